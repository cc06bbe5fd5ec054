// Quick redraws of the canvas while the wheel widens a colour mat round a
// 24 MP photo: a 1600 x 1000 canvas at zoom 1, offscreen. Each step is one
// wheel notch over the canvas followed by the paint it asks for. --quick: a
// 1200 x 800 photo, 10 steps.
#include "bench/Quick.h"
#include "app/KTViewState.h"
#include "design/KTColorMatLayer.h"
#include "design/KTTemplate.h"
#include "editor/KTDesignView.h"
#include "editor/KTDesignViewController.h"
#include "editor/KTLayersPaletteController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QUrl>
#include <QWheelEvent>

#include <cstdio>

namespace {

QString writeBigPhoto(const QTemporaryDir &dir, int width, int height)
{
    QImage photo(width, height, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < photo.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(photo.scanLine(y));
        for (int x = 0; x < photo.width(); ++x) {
            const int n = int(random.bounded(24));
            line[x] = qRgb((x * 200 / width + n) & 255, (y * 200 / height + n) & 255, (90 + n) & 255);
        }
    }
    const QString path = dir.filePath(QStringLiteral("photo24mp.jpg"));
    photo.save(path, "JPEG", 90);
    return path;
}

void wheel(QWidget *view, int angle)
{
    const QPointF at(800, 300);
    QWheelEvent e(at, view->mapToGlobal(at), QPoint(), QPoint(0, angle), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(view, &e);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const bool quick = bench::takeQuickFlag(argc, argv);
    QApplication app(argc, argv);
    QTemporaryDir dir;

    auto design = std::make_shared<KTTemplate>();
    if (!design->importImage(QUrl::fromLocalFile(writeBigPhoto(dir, quick ? 1200 : 6000, quick ? 800 : 4000)))) {
        std::fprintf(stderr, "the photo could not be read\n");
        return 1;
    }
    auto mat = std::make_shared<KTColorMatLayer>();
    design->addTopmostFrameLayer(mat);

    auto viewState = std::make_shared<KTViewState>();
    viewState->setZoom(1.0);
    viewState->setBackgroundColor(QColor(40, 40, 40));
    KTDesignViewController controller(QString::fromLatin1(KTDesignViewController::kNibName), nullptr);
    controller.setViewState(viewState);
    controller.setDocTemplate(design);
    KTDesignView *view = controller.designView();
    view->resize(1600, 1000);
    view->show();
    controller.layersPaletteController()->showDesign(*design);
    controller.layersPaletteController()->selectLayer(mat.get());

    // The first full drawing fills the caches.
    QElapsedTimer first;
    first.start();
    view->repaint();
    app.processEvents();
    const double firstMs = first.nsecsElapsed() / 1e6;

    const int steps = quick ? 10 : 100;
    QElapsedTimer timer;
    timer.start();
    int widened = 0;
    for (int i = 0; i < steps; ++i) {
        const double width = mat->leftWidth();
        wheel(view, (i / 10) % 2 ? 120 : -120);
        widened += mat->leftWidth() != width;
        view->repaint(view->designAreaInViewCoordinates());
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (widened != steps) {
        std::printf("the wheel changed the mat at %d of %d steps\n", widened, steps);
        return 1;
    }
    const double fps = steps / seconds;
    std::printf("first drawing: %.1f ms\n", firstMs);
    std::printf("%d quick redraws: %.1f ms each\n", steps, seconds * 1000 / steps);
    std::printf("result: %.1f fps\n", fps);
    return 0;
}
