#include "design/ui/KTReportView.h"

#include "design/KTTemplate.h"
#include "design/ui/KTReportItemView.h"
#include "kit/VLBlocks.h"
#include "kit/VLWAnalytics.h"
#include "platform/TemporaryFolders.h"
#include "platform/ui/OpenWithDesktop.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPixmap>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace {

constexpr int kHeadingTop = 5;
constexpr int kHeadingGap = 16;
constexpr int kPictureGap = 20;
constexpr double kPictureSide = 400;
// Paper margins in points, as printing has them by default.
const QMarginsF kPaperMargins(72, 90, 72, 90);

std::mutex g_openerMutex;
KTReportView::Opener g_opener;

void openReport(const QUrl &url)
{
    KTReportView::Opener opener;
    {
        std::lock_guard<std::mutex> lock(g_openerMutex);
        opener = g_opener;
    }
    if (opener)
        opener(url);
    else
        platform::openWithDesktop(url);
}

} // namespace

KTReportView::KTReportView(std::shared_ptr<KTTemplate> design, QWidget *parent)
    : QWidget(parent)
    , m_template(std::move(design))
{
    if (m_template)
        m_report = m_template->reportForRealSize();
    layoutViews();
}

KTReportView::~KTReportView() = default;

void KTReportView::layoutViews()
{
    // The page is built downwards from its top edge; `y` is the distance from
    // the top (the page's y-up layout, measured the other way).
    m_heading = new QLabel(QCoreApplication::translate("KTReportView", kHeading), this);
    QFont headingFont(QStringLiteral("Helvetica"));
    headingFont.setBold(true);
    headingFont.setPixelSize(24); // one view unit is one point
    m_heading->setFont(headingFont);
    // Black on the white paper, whatever the window's colours.
    QPalette ink = m_heading->palette();
    ink.setColor(QPalette::WindowText, Qt::black);
    m_heading->setPalette(ink);
    m_heading->adjustSize();
    m_heading->move(int(std::round(kWidth / 2.0 - m_heading->width() / 2.0)), kHeadingTop);
    m_heading->show();
    double y = kHeadingTop + m_heading->height() + kHeadingGap;

    // The design rendered at up to 400 x 400 and shown at half that size.
    QSizeF framed;
    QImage picture;
    if (m_template) {
        framed = m_template->finalFramedRectFittingStartRect(QRectF(0, 0, kPictureSide, kPictureSide)).size();
        if (!(framed.width() > 0 && framed.height() > 0 && std::isfinite(framed.width())
              && std::isfinite(framed.height()))) {
            framed = QSizeF(0, 0);
        } else {
            // As printed: no selection handles around the layer selected in the window.
            const bool wasExporting = m_template->exportMode();
            m_template->setExportMode(true);
            picture = m_template->imageWithSize(framed);
            m_template->setExportMode(wasExporting);
        }
    }
    m_picture = new QLabel(this);
    m_picture->setScaledContents(true);
    if (!picture.isNull())
        m_picture->setPixmap(QPixmap::fromImage(picture));
    m_picture->setGeometry(QRectF(kWidth / 2.0 - framed.width() / 4, y, framed.width() / 2, framed.height() / 2).toRect());
    m_picture->show();
    y += framed.height() / 2 + kPictureGap;

    for (const QVariant &entry : std::as_const(m_report)) {
        auto *row = new KTReportItemView(entry.toMap(), this);
        row->move(0, int(std::round(y)));
        row->show();
        y += row->height();
    }
    const int height = int(std::ceil(y));
    setFixedSize(kWidth, height);
}

QSizeF KTReportView::sizeForReport() const
{
    double height = 220;
    for (const QVariant &entry : m_report)
        height += std::max(92, 16 * int(entry.toMap().size()) - 16);
    return QSizeF(kWidth, height);
}

bool KTReportView::writePDF(const QString &path)
{
    QPdfWriter writer(path);
    writer.setResolution(72);
    writer.setCreator(QCoreApplication::applicationName());
    writer.setTitle(QCoreApplication::translate("KTReportView", kHeading));
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, kPaperMargins, QPageLayout::Point));
    QPainter painter;
    if (!painter.begin(&writer))
        return false;
    const QRectF paintRect = writer.pageLayout().paintRectPoints();
    const double pageHeight = paintRect.height();
    const int x = int(std::round(std::max(0.0, (paintRect.width() - kWidth) / 2)));

    // Page breaks fall between the page's parts where one would be cut. Rows
    // that draw nothing (an overlay's) at the end start no page of their own.
    QList<QRect> parts;
    int inkBottom = 0;
    for (QWidget *child : findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        parts << child->geometry();
        const auto *row = qobject_cast<KTReportItemView *>(child);
        if (!row || !row->report().isEmpty())
            inkBottom = std::max(inkBottom, child->geometry().bottom() + 1);
    }
    int top = 0;
    bool first = true;
    while (top < inkBottom) {
        int bottom = int(std::floor(top + pageHeight));
        if (bottom < height()) {
            for (const QRect &part : std::as_const(parts)) {
                if (part.top() > top && part.top() < bottom && part.top() + part.height() > bottom)
                    bottom = std::min(bottom, part.top());
            }
        }
        bottom = std::min(bottom, height());
        if (!first && !writer.newPage())
            return false;
        first = false;
        render(&painter, QPoint(x, 0), QRegion(0, top, kWidth, bottom - top), QWidget::DrawChildren);
        top = bottom;
    }
    return painter.end();
}

QString KTReportView::createDesignReport(const std::shared_ptr<KTTemplate> &design)
{
    // Private to the user and gone at quit, as every file written for a moment.
    const QString folder = platform::TemporaryFolders::makeFolder();
    if (folder.isEmpty())
        return {};
    const QString path = QDir(folder).filePath(QString::fromLatin1(kReportFileName));
    KTReportView page(design);
    if (!page.writePDF(path))
        return {};
    openReport(QUrl::fromLocalFile(path));
    VLWAnalytics::trackEventProperties(QStringLiteral("Usage"),
                                       QVariantMap{{QStringLiteral("Action"), QStringLiteral("Design Report")}});
    return path;
}

void KTReportView::setReportOpener(Opener opener)
{
    std::lock_guard<std::mutex> lock(g_openerMutex);
    g_opener = std::move(opener);
}
