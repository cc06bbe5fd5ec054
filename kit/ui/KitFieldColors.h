#pragma once

#include <QColor>
#include <QPalette>
#include <QWidget>

// The look of a form field that still needs input: its background blended
// with yellow.
namespace kitFieldColors {

inline QColor blend(const QColor &base, const QColor &with, double fraction)
{
    return QColor::fromRgbF(float(base.redF() * (1 - fraction) + with.redF() * fraction),
                            float(base.greenF() * (1 - fraction) + with.greenF() * fraction),
                            float(base.blueF() * (1 - fraction) + with.blueF() * fraction),
                            float(base.alphaF()));
}

inline QColor warningYellow()
{
    return QColor(255, 204, 0);
}

// Colours the field's background: plain when fine, yellowish when not.
inline void markField(QWidget *field, bool fine, double fraction)
{
    if (!field)
        return;
    const QColor base = field->style() ? QPalette().color(QPalette::Base) : QColor(Qt::white);
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, fine ? base : blend(base, warningYellow(), fraction));
    field->setPalette(palette);
}

} // namespace kitFieldColors
