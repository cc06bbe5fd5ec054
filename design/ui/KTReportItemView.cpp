#include "design/ui/KTReportItemView.h"

#include "design/KTTemplate.h"
#include "design/VLImage.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QImage>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QSizeF>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

struct ValueLine {
    const char *key;
    const char *format;
};

// The measurement lines, in the order a row writes them.
const ValueLine kValueLines[] = {
    {"Width", "Width: %1"},
    {"OverWidth", "Overlap: %1"},
    {"TopWidth", "Top width: %1"},
    {"RightWidth", "Right width: %1"},
    {"BottomWidth", "Bottom width: %1"},
    {"LeftWidth", "Left width: %1"},
};

// The text font of a row, sized in points (one view unit is one point).
QFont rowFont()
{
    QFont font(QStringLiteral("Helvetica"));
    font.setPixelSize(12);
    return font;
}

QImage iconImage(const QVariant &value)
{
    if (value.canConvert<QImage>() && value.typeId() == QMetaType::QImage)
        return value.value<QImage>();
    if (value.typeId() == QMetaType::QPixmap)
        return value.value<QPixmap>().toImage();
    if (value.canConvert<std::shared_ptr<VLImage>>()) {
        const auto image = value.value<std::shared_ptr<VLImage>>();
        if (image) {
            const QSizeF size = image->originalSize();
            return image->nsimageWithSide(std::max(size.width(), size.height()));
        }
    }
    return {};
}

} // namespace

KTReportItemView::KTReportItemView(const QVariantMap &report, QWidget *parent)
    : QWidget(parent)
    , m_report(report)
{
    setGeometry(0, 0, kWidth, heightForReport(report));
}

void KTReportItemView::setReport(const QVariantMap &report)
{
    m_report = report;
    update();
}

int KTReportItemView::heightForReport(const QVariantMap &report)
{
    return std::max(kMinimumHeight, kLineHeight * int(report.size()) + 4);
}

QString KTReportItemView::formatNumber(double value)
{
    if (!std::isfinite(value))
        return QLocale().toString(value);
    return KTTemplate::defaultLengthString(value);
}

QStringList KTReportItemView::lines() const
{
    QStringList lines;
    const QString title = m_report.value(QStringLiteral("Title")).toString();
    if (m_report.contains(QStringLiteral("Title")))
        lines << title;
    if (m_report.contains(QStringLiteral("Size"))) {
        const QSizeF size = m_report.value(QStringLiteral("Size")).toSizeF();
        lines << tr("Size: %1 × %2").arg(formatNumber(size.width()), formatNumber(size.height()));
    }
    for (const ValueLine &line : kValueLines) {
        const QString key = QString::fromLatin1(line.key);
        if (m_report.contains(key))
            lines << tr(line.format).arg(formatNumber(m_report.value(key).toDouble()));
    }
    return lines;
}

void KTReportItemView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QImage icon = iconImage(m_report.value(QStringLiteral("Icon")));
    if (!icon.isNull())
        painter.drawImage(QPointF(kIconX, 0), icon);

    // Each line's box ends 16 points further down; the text sits on the
    // box's bottom, as text drawn at a point does.
    painter.setFont(rowFont());
    painter.setPen(Qt::black);
    const QFontMetricsF metrics(painter.font());
    double bottom = kLineHeight;
    for (const QString &line : lines()) {
        painter.drawText(QPointF(kTextX, bottom - metrics.descent()), line);
        bottom += kLineHeight;
    }
}
