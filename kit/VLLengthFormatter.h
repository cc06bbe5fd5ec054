#pragma once

#include "platform/Error.h"

#include <QString>
#include <QVariant>

// Shows and reads a physical length. The value is always centimetres; the
// text is metric (centimetres, two decimals) or imperial (whole inches and
// a fraction whose denominator is a power of two, such as "3 15/16").
class VLLengthFormatter
{
public:
    static constexpr double kCentimetresPerInch = 2.54;
    static constexpr const char *kNoNumberError = "Couldn't find a number";
    static constexpr const char *kCantHandleInputError = "Can't handle input: %1";

    VLLengthFormatter() = default;
    explicit VLLengthFormatter(unsigned unit);

    // 0 is metric; any other value imperial.
    unsigned unit() const { return m_unit; }
    void setUnit(unsigned unit) { m_unit = unit; }
    qint64 highestDenominator() const { return m_highestDenominator; }
    void setHighestDenominator(qint64 denominator) { m_highestDenominator = denominator; }

    // The text for a number; the empty string for anything else.
    QString stringForObjectValue(const QVariant &object) const;
    QString metricStringForValue(double centimetres) const;
    QString imperialStringForValue(double centimetres) const;

    // Reads a text into centimetres. False with an error (when asked
    // for) when the text is not a length in the current unit.
    bool getObjectValueForString(QVariant *object, const QString &string, platform::Error *error) const;

    // Whether a text may stand while the user types: every complete length,
    // and the beginnings of one ("-", "3 1", "3 1/").
    bool isPartialStringValid(const QString &partialString, platform::Error *error) const;

private:
    unsigned m_unit = 0;
    qint64 m_highestDenominator = 0;
};
