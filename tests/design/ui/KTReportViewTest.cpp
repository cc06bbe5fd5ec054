#include "design/KTColorMatLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTLayer.h"
#include "design/KTTemplate.h"
#include "design/KTTextOverlayLayer.h"
#include "design/ui/KTReportItemView.h"
#include "design/ui/KTReportView.h"
#include "platform/TemporaryFolders.h"
#include "support/ImagingTools.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QUrl>

using namespace testsupport;

namespace {

// A frame-like layer that grows the rect by a share of the short side and
// reports its title and widths.
class MeasuredLayer : public KTLayer
{
    Q_OBJECT
public:
    MeasuredLayer(QString title, double grow) : m_title(std::move(title)), m_grow(grow) {}
    QRectF resultingRectForRect(const QRectF &r) const override
    {
        const double m = std::min(r.width(), r.height()) * m_grow;
        return r.adjusted(-m, -m, m, m);
    }
    QVariantMap reportForRealSize(const QSizeF &size) const override
    {
        const QSizeF outer = resultingRectForRect(QRectF(QPointF(0, 0), size)).size();
        return {{QStringLiteral("Title"), m_title},
                {QStringLiteral("Size"), outer},
                {QStringLiteral("Width"), std::min(size.width(), size.height()) * m_grow}};
    }

private:
    QString m_title;
    double m_grow;
};

QString jpeg(int w, int h, const QString &stem)
{
    const QString path = scratchFile(QStringLiteral("jpg"), stem);
    EXPECT_TRUE(quadrantPicture(w, h).save(path, "JPEG", 90));
    return path;
}

std::shared_ptr<KTTemplate> designWithPhoto(int w, int h, const QString &stem = QStringLiteral("report"))
{
    auto design = std::make_shared<KTTemplate>();
    EXPECT_TRUE(design->importImage(QUrl::fromLocalFile(jpeg(w, h, stem))));
    return design;
}

QImage renderRow(KTReportItemView &row)
{
    QImage image(row.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    row.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// Dark pixels in a band of rows (y-down) right of the icon column.
int inkInBand(const QImage &image, int top, int bottom)
{
    int ink = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = KTReportItemView::kTextX; x < image.width(); ++x)
            ink += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
    return ink;
}

QString tool(const QString &program, const QStringList &args)
{
    QByteArray out;
    EXPECT_TRUE(runTool(program, args, &out)) << program.toStdString() << ": " << out.toStdString();
    return QString::fromUtf8(out);
}

int pageCount(const QString &pdf)
{
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(tool(QStringLiteral("pdfinfo"), {pdf}));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

} // namespace

TEST(KTReportItemRows, HeightAndLinesFollowTheEntry)
{
    KTReportItemView empty({});
    EXPECT_EQ(empty.height(), 92);
    EXPECT_EQ(empty.width(), 400);
    EXPECT_TRUE(empty.lines().isEmpty());
    EXPECT_EQ(inkInBand(renderRow(empty), 0, 92), 0);

    QImage icon(72, 48, QImage::Format_ARGB32_Premultiplied);
    icon.fill(QColor(0, 0, 200));
    KTReportItemView photo({{QStringLiteral("Icon"), icon},
                            {QStringLiteral("Title"), QStringLiteral("harbour.jpg")},
                            {QStringLiteral("Size"), QSizeF(10, 6.666)}});
    EXPECT_EQ(photo.height(), 92);
    EXPECT_EQ(photo.lines(), (QStringList{QStringLiteral("harbour.jpg"), QStringLiteral("Size: 10 × 6.67")}));
    const QImage drawn = renderRow(photo);
    // The icon hangs from the row's top, 10 points in.
    EXPECT_TRUE(near(drawn.pixelColor(12, 2), QColor(0, 0, 200), 10));
    EXPECT_TRUE(near(drawn.pixelColor(80, 46), QColor(0, 0, 200), 10));
    EXPECT_TRUE(near(drawn.pixelColor(12, 50), Qt::white, 10));
    // Two lines of text, 16 points apart; nothing below.
    EXPECT_GT(inkInBand(drawn, 0, 16), 10);
    EXPECT_GT(inkInBand(drawn, 16, 32), 10);
    EXPECT_EQ(inkInBand(drawn, 32, 92), 0);

    // A mat's entry: 8 keys, 132 points, the widths in their order.
    KTReportItemView mat({{QStringLiteral("Icon"), icon},
                          {QStringLiteral("Title"), QStringLiteral("Color Mat Layer")},
                          {QStringLiteral("Size"), QSizeF(12, 9)},
                          {QStringLiteral("LeftWidth"), 1.0},
                          {QStringLiteral("TopWidth"), 0.5},
                          {QStringLiteral("RightWidth"), 7.126},
                          {QStringLiteral("BottomWidth"), 3},
                          {QStringLiteral("OverWidth"), 0.25}});
    EXPECT_EQ(mat.height(), 132);
    EXPECT_EQ(mat.lines(), (QStringList{QStringLiteral("Color Mat Layer"), QStringLiteral("Size: 12 × 9"),
                                        QStringLiteral("Overlap: 0.25"), QStringLiteral("Top width: 0.5"),
                                        QStringLiteral("Right width: 7.13"), QStringLiteral("Bottom width: 3"),
                                        QStringLiteral("Left width: 1")}));

    // Without a title the first value takes the first line.
    KTReportItemView untitled({{QStringLiteral("Width"), 2.5}});
    EXPECT_EQ(untitled.lines(), QStringList{QStringLiteral("Width: 2.5")});
    const QImage plain = renderRow(untitled);
    EXPECT_GT(inkInBand(plain, 0, 16), 10);
    EXPECT_EQ(inkInBand(plain, 16, 92), 0);
}

TEST(KTReportPage, PictureAndRowsStackBelowTheHeading)
{
    // A square photo is shown 200 x 200 points, a twice-as-wide one 200 x 100.
    auto square = designWithPhoto(300, 300);
    KTReportView squarePage(square);
    EXPECT_EQ(squarePage.pictureView()->geometry(), QRect(100, squarePage.pictureView()->y(), 200, 200));
    auto wide = designWithPhoto(400, 200);
    wide->addTopmostLayer(std::make_shared<KTTextOverlayLayer>());
    KTReportView page(wide);
    const QRect picture = page.pictureView()->geometry();
    EXPECT_EQ(picture.size(), QSize(200, 100));
    EXPECT_EQ(picture.x(), 100);
    const QLabel *heading = page.headingView();
    EXPECT_EQ(heading->text(), QStringLiteral("Kantelo design report"));
    EXPECT_EQ(heading->y(), 5);
    EXPECT_NEAR(heading->x() + heading->width() / 2.0, 200, 1);
    EXPECT_EQ(picture.y(), 5 + heading->height() + 16);
    // The photo's row (3 keys) and the overlay's empty row, 92 points each.
    ASSERT_EQ(page.report().size(), 2);
    EXPECT_EQ(page.height(), 5 + heading->height() + 16 + 100 + 20 + 92 + 92);
    const auto rows = page.findChildren<KTReportItemView *>();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0]->y(), picture.bottom() + 1 + 20);
    EXPECT_EQ(rows[0]->lines().first(), QFileInfo(wide->imageLayer()->imageFileName()).fileName());
    EXPECT_EQ(rows[1]->y(), rows[0]->y() + 92);
    // The picture shows the design: the photo's upper left quadrant is red.
    const QImage shown = page.pictureView()->pixmap().toImage();
    EXPECT_EQ(shown.size(), QSize(400, 200));
    EXPECT_TRUE(near(shown.pixelColor(20, 20), QColor(255, 0, 0)));
    EXPECT_EQ(page.sizeForReport(), QSizeF(400, 220 + 92 + 92));
}

TEST(KTReportPDF, WrittenOpenedAndReadableAsText)
{
    auto design = designWithPhoto(300, 200, QStringLiteral("dunes"));
    design->setRealWidth(30);
    design->addTopmostFrameLayer(std::make_shared<MeasuredLayer>(QStringLiteral("Oak Frame"), 0.1));
    design->addTopmostLayer(std::make_shared<KTTextOverlayLayer>());

    QList<QUrl> opened;
    KTReportView::setReportOpener([&](const QUrl &url) { opened << url; });
    const QString path = KTReportView::createDesignReport(design);
    KTReportView::setReportOpener(nullptr);
    ASSERT_FALSE(path.isEmpty());
    const auto removeFolder = qScopeGuard([&] { QDir(QFileInfo(path).absolutePath()).removeRecursively(); });
    EXPECT_EQ(QFileInfo(path).fileName(), QStringLiteral("Kantelo Report.pdf"));
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(path)});
    EXPECT_TRUE(path.startsWith(platform::TemporaryFolders::rootPath() + '/')) << "gone at quit";
    EXPECT_EQ(QFileInfo(QFileInfo(path).absolutePath()).permissions() & 0x0077, 0) << "the user's alone";

    EXPECT_EQ(pageCount(path), 1);
    const QString text = tool(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path, QStringLiteral("-")});
    EXPECT_TRUE(text.contains(QStringLiteral("Kantelo design report"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Size: 30 × 20"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Oak Frame")));
    EXPECT_TRUE(text.contains(QStringLiteral("Size: 34 × 24")));
    EXPECT_TRUE(text.contains(QStringLiteral("Width: 2")));
    EXPECT_TRUE(text.indexOf(QStringLiteral("dunes")) < text.indexOf(QStringLiteral("Oak Frame")));
    // The picture is in it too.
    const QString images = tool(QStringLiteral("pdfimages"), {QStringLiteral("-list"), path});
    EXPECT_GE(images.count(QLatin1Char('\n')), 3) << images.toStdString();
}

TEST(KTReportPDF, ColourMatRowListsItsWidths)
{
    auto design = designWithPhoto(300, 200, QStringLiteral("matted"));
    design->setRealWidth(30);
    auto mat = std::make_shared<KTColorMatLayer>();
    mat->setLeftWidth(0.1);
    mat->setRightWidth(0.1);
    mat->setTopWidth(0.15);
    mat->setBottomWidth(0.2);
    mat->setBevelWidth(0.05);
    design->addTopmostFrameLayer(mat);
    KTReportView page(design);
    const auto rows = page.findChildren<KTReportItemView *>();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[1]->height(), 16 * rows[1]->report().size() + 4);

    const QString path = scratchFile(QStringLiteral("pdf"), QStringLiteral("mat"));
    ASSERT_TRUE(page.writePDF(path));
    EXPECT_EQ(pageCount(path), 1);
    const QString text = tool(QStringLiteral("pdftotext"), {path, QStringLiteral("-")});
    // The short side is 20: widths 2, 2, 3 and 4, the bevel 1.
    const QStringList expected = {QStringLiteral("Size: 34 × 27"), QStringLiteral("Overlap: 1"),
                                  QStringLiteral("Top width: 3"), QStringLiteral("Right width: 2"),
                                  QStringLiteral("Bottom width: 4"), QStringLiteral("Left width: 2")};
    qsizetype at = text.indexOf(QStringLiteral("Size: 30 × 20"));
    ASSERT_GE(at, 0) << text.toStdString();
    for (const QString &line : expected) {
        const qsizetype next = text.indexOf(line, at);
        EXPECT_GT(next, at) << line.toStdString() << "\n" << text.toStdString();
        at = std::max(at, next);
    }
}

TEST(KTReportPDF, LongReportsBreakBetweenRows)
{
    auto design = designWithPhoto(300, 300, QStringLiteral("long"));
    for (int i = 1; i <= 14; ++i)
        design->addTopmostFrameLayer(std::make_shared<MeasuredLayer>(QStringLiteral("Frame number %1").arg(i), 0.01));
    KTReportView page(design);
    // 15 rows of 92 points below a 200-point picture: more than one A4 page.
    EXPECT_GT(page.height(), 2 * 662);
    const QString path = scratchFile(QStringLiteral("pdf"), QStringLiteral("long"));
    ASSERT_TRUE(page.writePDF(path));
    const int pages = pageCount(path);
    EXPECT_EQ(pages, 3);
    // Every row whole on one page: each title once, with its size line on the same page.
    for (int p = 1; p <= pages; ++p) {
        const QString text = tool(QStringLiteral("pdftotext"), {QStringLiteral("-f"), QString::number(p), QStringLiteral("-l"),
                                                               QString::number(p), path, QStringLiteral("-")});
        const int titles = int(text.count(QRegularExpression(QStringLiteral("Frame number \\d+"))));
        const int sizes = int(text.count(QStringLiteral("Size: ")));
        EXPECT_GT(titles, 0) << p;
        EXPECT_EQ(sizes, titles + (p == 1 ? 1 : 0)) << text.toStdString();
    }
    const QString all = tool(QStringLiteral("pdftotext"), {path, QStringLiteral("-")});
    for (int i = 1; i <= 14; ++i)
        EXPECT_EQ(all.count(QStringLiteral("Frame number %1\n").arg(i)), 1) << i;
    // A path that cannot be written is a plain failure.
    EXPECT_FALSE(page.writePDF(QStringLiteral("/nonexistent/folder/report.pdf")));
}

TEST(KTReportPDF, RowsThatDrawNothingStartNoPageAndTheHeadingIsInkOnThePaper)
{
    auto design = designWithPhoto(200, 300, QStringLiteral("overlays-last"));
    for (int i = 1; i <= 3; ++i)
        design->addTopmostFrameLayer(std::make_shared<MeasuredLayer>(QStringLiteral("Frame %1").arg(i), 0.01));
    for (int i = 0; i < 3; ++i)
        design->addTopmostLayer(std::make_shared<KTTextOverlayLayer>());
    // The program's dark look writes light text in its windows.
    const QPalette before = QApplication::palette();
    QApplication::setPalette(QPalette(QColor(220, 220, 220), QColor(40, 40, 40)));
    KTReportView page(design);
    QApplication::setPalette(before);
    EXPECT_GT(page.height(), 662) << "the overlays' empty rows reach past the first page";
    const QString path = scratchFile(QStringLiteral("pdf"), QStringLiteral("overlays-last"));
    ASSERT_TRUE(page.writePDF(path));
    EXPECT_EQ(pageCount(path), 1);

    QImage paper(page.size(), QImage::Format_ARGB32_Premultiplied);
    paper.fill(Qt::white);
    page.render(&paper, QPoint(), QRegion(), QWidget::DrawChildren);
    const QLabel *heading = page.findChildren<QLabel *>().constFirst();
    EXPECT_GT(inkInBand(paper, heading->y(), heading->y() + heading->height()), 100);
}

#include "KTReportViewTest.moc"
