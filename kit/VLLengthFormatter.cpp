#include "kit/VLLengthFormatter.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <cmath>

namespace {

// Denominators beyond this would only overflow; no field shows them.
constexpr qint64 kLargestDenominator = qint64(1) << 24;
// Whole inches beyond this cannot be shown exactly.
constexpr double kLargestInches = 9.0e15;

// Reads numbers the way a plain scanner does: white space is skipped before
// each item, a double is [sign] digits [. digits] [exponent].
class Scanner
{
public:
    explicit Scanner(const QString &text)
        : m_text(text)
    {
    }

    void skipSpace()
    {
        while (m_pos < m_text.size() && m_text.at(m_pos).isSpace())
            ++m_pos;
    }
    bool atEnd()
    {
        skipSpace();
        return m_pos >= m_text.size();
    }
    qsizetype position() const { return m_pos; }
    void setPosition(qsizetype pos) { m_pos = pos; }
    QString rest()
    {
        skipSpace();
        return m_text.mid(m_pos);
    }

    bool scanDouble(double *value)
    {
        skipSpace();
        qsizetype i = m_pos;
        if (i < m_text.size() && (m_text.at(i) == u'+' || m_text.at(i) == u'-'))
            ++i;
        const qsizetype digitsStart = i;
        while (i < m_text.size() && m_text.at(i).isDigit())
            ++i;
        qsizetype digits = i - digitsStart;
        if (i < m_text.size() && m_text.at(i) == u'.') {
            ++i;
            const qsizetype fractionStart = i;
            while (i < m_text.size() && m_text.at(i).isDigit())
                ++i;
            digits += i - fractionStart;
        }
        if (digits == 0)
            return false;
        if (i < m_text.size() && (m_text.at(i) == u'e' || m_text.at(i) == u'E')) {
            qsizetype j = i + 1;
            if (j < m_text.size() && (m_text.at(j) == u'+' || m_text.at(j) == u'-'))
                ++j;
            const qsizetype exponentStart = j;
            while (j < m_text.size() && m_text.at(j).isDigit())
                ++j;
            if (j > exponentStart)
                i = j;
        }
        bool ok = false;
        const double parsed = m_text.mid(m_pos, i - m_pos).toDouble(&ok);
        if (!ok)
            return false;
        *value = parsed;
        m_pos = i;
        return true;
    }

    // Unsigned digits only: a fraction's parts carry no sign.
    bool scanDigits(qint64 *value)
    {
        skipSpace();
        qsizetype i = m_pos;
        while (i < m_text.size() && m_text.at(i).isDigit())
            ++i;
        if (i == m_pos || i - m_pos > 12)
            return false;
        *value = m_text.mid(m_pos, i - m_pos).toLongLong();
        m_pos = i;
        return true;
    }

    bool scanString(QStringView s)
    {
        skipSpace();
        if (QStringView(m_text).mid(m_pos).startsWith(s)) {
            m_pos += s.size();
            return true;
        }
        return false;
    }

private:
    const QString &m_text;
    qsizetype m_pos = 0;
};

QString translated(const char *text)
{
    return QCoreApplication::translate("VLLengthFormatter", text);
}

bool fail(platform::Error *error, const QString &rest)
{
    platform::setError(error, translated(VLLengthFormatter::kCantHandleInputError).arg(rest));
    return false;
}

} // namespace

VLLengthFormatter::VLLengthFormatter(unsigned unit)
    : m_unit(unit)
    , m_highestDenominator(64)
{
}

QString VLLengthFormatter::stringForObjectValue(const QVariant &object) const
{
    switch (object.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Bool:
        break;
    default:
        return QString();
    }
    const double value = object.toDouble();
    return m_unit != 0 ? imperialStringForValue(value) : metricStringForValue(value);
}

QString VLLengthFormatter::metricStringForValue(double centimetres) const
{
    if (!std::isfinite(centimetres))
        return QString();
    return QString::number(centimetres, 'f', 2);
}

QString VLLengthFormatter::imperialStringForValue(double centimetres) const
{
    double inches = centimetres / kCentimetresPerInch;
    if (!std::isfinite(inches) || std::fabs(inches) > kLargestInches)
        return QString();
    // The sign is shown once, before the whole inches and the fraction.
    const bool negative = inches < 0;
    inches = std::fabs(inches);

    qint64 whole = qint64(std::floor(inches));
    double fraction = inches - double(whole);
    const qint64 highest = std::clamp<qint64>(m_highestDenominator, 0, kLargestDenominator);

    qint64 bits = 0;
    qint64 denominator = 1;
    if (highest > 1) {
        do {
            denominator *= 2;
            const qint64 digit = qint64(std::floor(fraction * double(denominator)));
            bits = bits * 2 + digit;
            fraction -= double(digit) / double(denominator);
        } while (denominator < highest);
    }
    qint64 numerator = bits + qint64(std::round(double(highest) * fraction));
    // A fraction that rounds up to a whole inch belongs to the whole inches.
    if (numerator >= denominator) {
        whole += numerator / denominator;
        numerator %= denominator;
    }
    while (numerator > 0 && numerator % 2 == 0) {
        numerator /= 2;
        denominator /= 2;
    }
    QString text = numerator == 0 ? QString::number(whole)
                                  : QStringLiteral("%1 %2/%3").arg(whole).arg(numerator).arg(denominator);
    if (negative && (whole != 0 || numerator != 0))
        text.prepend(u'-');
    return text;
}

bool VLLengthFormatter::getObjectValueForString(QVariant *object, const QString &string,
                                                platform::Error *error) const
{
    Scanner scanner(string);
    double number = 0;
    if (!scanner.scanDouble(&number)) {
        if (scanner.atEnd()) {
            if (object)
                *object = QVariant(0);
            return true;
        }
        platform::setError(error, translated(kNoNumberError));
        return false;
    }
    if (!std::isfinite(number))
        return fail(error, string.trimmed());

    double centimetres = 0;
    if (m_unit == 0) {
        if (!scanner.atEnd())
            return fail(error, scanner.rest());
        centimetres = number;
    } else {
        double inches = number;
        const qsizetype afterNumber = scanner.position();
        qint64 numerator = 0;
        qint64 denominator = 0;
        if (scanner.scanDigits(&numerator)) {
            // Only a whole fraction may follow the number: "3 1" or "3 1/"
            // would silently drop what was typed, "3 1/0" has no value.
            if (!scanner.scanString(u"/") || !scanner.scanDigits(&denominator) || denominator == 0
                || !scanner.atEnd()) {
                scanner.setPosition(afterNumber);
                return fail(error, scanner.rest());
            }
            const double part = double(numerator) / double(denominator);
            inches = std::signbit(number) ? number - part : number + part;
        } else if (!scanner.atEnd()) {
            return fail(error, scanner.rest());
        }
        centimetres = inches * kCentimetresPerInch;
    }
    if (object)
        *object = QVariant(centimetres);
    return true;
}

bool VLLengthFormatter::isPartialStringValid(const QString &partialString, platform::Error *error) const
{
    if (getObjectValueForString(nullptr, partialString, error))
        return true;
    static const QRegularExpression metricStart(QStringLiteral("^\\s*[+-]?\\.?\\s*$"));
    static const QRegularExpression imperialStart(
        QStringLiteral("^\\s*[+-]?(\\.?|\\d+\\.?\\d*|\\.\\d+)(\\s+\\d+\\s*(/\\s*\\d*)?)?\\s*$"));
    if ((m_unit == 0 ? metricStart : imperialStart).match(partialString).hasMatch()) {
        if (error)
            *error = platform::Error{};
        return true;
    }
    return false;
}
