// Opening a set of 200 frames in a library of 2,000: the time until the
// first screen of the library panel shows every icon, and the time per step
// while scrolling through the set. The library is a real SQLite file whose
// frame icons (PNG) are read back from disk when shown. --quick: sets of 20.
#include "bench/Quick.h"
#include "library/KTLibraryContentModel.h"
#include "library/KTLibraryViewController.h"
#include "kit/ui/VLCollectionView.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "platform/objectstore/PersistentStore.h"
#include "stores/Frame.h"
#include "stores/FrameCollection.h"
#include "stores/FrameSet.h"
#include "stores/FrameType.h"
#include "stores/LibraryModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QScrollBar>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QImage frameIcon(int n)
{
    QImage icon(96, 96, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor::fromHsv(n * 37 % 360, 160, 190));
    p.setPen(QPen(Qt::black, 2));
    p.drawRect(QRectF(6, 6, 84, 84));
    p.setBrush(QColor(235, 235, 230));
    p.drawRect(QRectF(22, 22, 52, 52));
    p.drawText(QRectF(22, 22, 52, 52), Qt::AlignCenter, QString::number(n));
    return icon;
}

// Rows whose cells lie in the visible part of the list.
std::vector<int> visibleRows(VLCollectionView *list, int count)
{
    std::vector<int> rows;
    const QRect viewport = list->viewport()->rect();
    for (int row = 0; row < count; ++row) {
        if (list->visualRect(list->model()->index(row, 0)).intersects(viewport))
            rows.push_back(row);
    }
    return rows;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const bool quick = bench::takeQuickFlag(argc, argv);
    QApplication app(argc, argv);
    const int framesPerSet = quick ? 20 : 200;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("KTLibrary.db"));

    {
        auto store = platform::PersistentStore::openSQLite(path, LibraryModel::shared());
        platform::ManagedObjectContext moc(LibraryModel::shared());
        moc.attachStore(store);
        auto *type = FrameType::insertInManagedObjectContext(&moc);
        type->setName(QStringLiteral("Color Mat"));
        int n = 0;
        for (int c = 0; c < 2; ++c) {
            auto *collection = FrameCollection::insertInManagedObjectContext(&moc);
            collection->setName(QStringLiteral("Collection %1").arg(c));
            for (int s = 0; s < 5; ++s) {
                auto *set = FrameSet::insertInManagedObjectContext(&moc);
                set->setName(QStringLiteral("Set %1-%2").arg(c).arg(s));
                set->setFramecollection(collection);
                for (int f = 0; f < framesPerSet; ++f, ++n) {
                    auto *frame = Frame::insertInManagedObjectContext(&moc);
                    frame->setName(QStringLiteral("Frame %1").arg(n, 4, 10, QLatin1Char('0')));
                    frame->setFrameset(set);
                    frame->setFrametype(type);
                    frame->setIconImage(frameIcon(n));
                }
            }
        }
        platform::Error error;
        if (!moc.save(&error)) {
            std::fprintf(stderr, "the library could not be saved: %s\n", qPrintable(error.description));
            return 1;
        }
    }

    // Read back from the file, as at start-up.
    auto store = platform::PersistentStore::openSQLite(path, LibraryModel::shared());
    platform::ManagedObjectContext moc(LibraryModel::shared());
    moc.attachStore(store);
    FrameSet *set = nullptr;
    for (FrameSet *s : moc.fetchObjects<FrameSet>())
        if (s->name() == QLatin1String("Set 1-2"))
            set = s;
    if (!set) {
        std::fprintf(stderr, "no set\n");
        return 1;
    }

    KTLibraryViewController panel(QString::fromLatin1(KTLibraryViewController::kNibName), nullptr);
    panel.setManagedObjectContext(&moc);
    QWidget *view = panel.view();
    view->resize(320, 900);
    view->show();
    app.processEvents();

    VLCollectionView *list = panel.collectionView();
    KTLibraryContentModel *model = panel.contentModel();
    QElapsedTimer timer;
    timer.start();
    panel.displayFramesInSet(set);
    list->repaint();
    std::vector<int> rows = visibleRows(list, model->rowCount());
    auto allLoaded = [&] {
        return std::all_of(rows.begin(), rows.end(), [&](int row) { return model->isIconLoaded(row); });
    };
    while (!allLoaded() && timer.elapsed() < 60000)
        app.processEvents(QEventLoop::AllEvents, 5);
    list->repaint();
    const double firstScreenMs = timer.nsecsElapsed() / 1e6;
    if (model->rowCount() != framesPerSet || rows.empty() || !allLoaded()) {
        std::printf("the panel shows %d of %d frames, %zu on the first screen, %s\n", model->rowCount(), framesPerSet,
                    rows.size(), allLoaded() ? "all icons loaded" : "icons missing after a minute");
        return 1;
    }

    // Scrolling: one step of 40 points, painted, until the end of the set.
    QScrollBar *bar = list->verticalScrollBar();
    std::vector<double> steps;
    for (int value = 0; value <= bar->maximum(); value += 40) {
        QElapsedTimer step;
        step.start();
        bar->setValue(value);
        app.processEvents();
        list->viewport()->repaint();
        steps.push_back(step.nsecsElapsed() / 1e6);
    }
    std::sort(steps.begin(), steps.end());
    const double median = steps.empty() ? 0 : steps[steps.size() / 2];
    const double worst = steps.empty() ? 0 : steps.back();

    std::printf("frames in the set: %d, on the first screen: %zu\n", model->rowCount(), rows.size());
    std::printf("scrolling: %zu steps, median %.2f ms, worst %.2f ms\n", steps.size(), median, worst);
    std::printf("result: %.1f ms\n", firstScreenMs);
    return 0;
}
