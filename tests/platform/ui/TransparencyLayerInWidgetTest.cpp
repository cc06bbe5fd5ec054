#include "platform/render/DrawingContext.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QWidget>

namespace {

// Fills a square in its middle through a transparency layer, y-up.
class LayeredSquare : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        platform::DrawingContext context(painter, height());
        context.beginTransparencyLayer();
        context.fillRect(QRectF(40, 40, 20, 20), Qt::red);
        context.endTransparencyLayer();
    }
};

} // namespace

TEST(TransparencyLayerInWidget, AChildAwayFromTheWindowOriginDrawsWhereItStands)
{
    QWidget window;
    window.resize(300, 200);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, Qt::black);
    window.setPalette(palette);
    window.setAutoFillBackground(true);
    auto *child = new LayeredSquare(&window);
    child->setGeometry(150, 50, 100, 100);
    window.show();

    const QImage grabbed = window.grab().toImage();
    // The square sits at the child's (40..60, 40..60), that is at the window's
    // (190..210, 90..110), never shifted by the child's place once more.
    EXPECT_EQ(QColor(grabbed.pixel(200, 100)), QColor(Qt::red));
    EXPECT_EQ(QColor(grabbed.pixel(160, 60)), QColor(Qt::white));
    EXPECT_EQ(QColor(grabbed.pixel(50, 50)), QColor(Qt::black));
    const QImage direct = child->grab().toImage();
    EXPECT_EQ(QColor(direct.pixel(50, 50)), QColor(Qt::red));
}
