// Opens a frame library of 10,000 frames with 90,000 attributes (every
// object loaded, byte columns left on disk) and saves a change to one frame.
// Prints both times (the first save after opening and later ones); the
// result line is the opening time. --quick: 1,000 frames, one run.
#include "bench/Quick.h"

#include "platform/objectstore/ManagedObjectContext.h"
#include "platform/objectstore/PersistentStore.h"
#include "stores/Frame.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameCollection.h"
#include "stores/FrameImage.h"
#include "stores/FrameSet.h"
#include "stores/FrameType.h"
#include "stores/LibraryModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace platform;

namespace {

bool build(const QString &path, int collections)
{
    auto store = PersistentStore::openSQLite(path, LibraryModel::shared());
    ManagedObjectContext context(LibraryModel::shared());
    context.attachStore(store);
    FrameType *type = FrameType::insertInManagedObjectContext(&context);
    type->setName(QStringLiteral("Moulding with corners"));
    QRandomGenerator random(42);
    std::vector<FrameImage *> images;
    for (int i = 0; i < collections * 400; ++i)
        images.push_back(FrameImage::insertFrameImageWithGUIDAndDisplayName(
            QStringLiteral("IMG-%1.png").arg(i), QStringLiteral("graphic %1.png").arg(i), &context));
    QByteArray icon(6000, Qt::Uninitialized);
    for (int c = 0; c < collections; ++c) {
        FrameCollection *collection = FrameCollection::insertInManagedObjectContext(&context);
        collection->setName(QStringLiteral("Collection %1").arg(c));
        collection->setIcon(images[c]);
        for (int s = 0; s < 20; ++s) {
            FrameSet *set = FrameSet::insertInManagedObjectContext(&context);
            set->setName(QStringLiteral("Set %1-%2").arg(c).arg(s));
            set->setFramecollection(collection);
            for (int f = 0; f < 50; ++f) {
                Frame *frame = Frame::insertInManagedObjectContext(&context);
                frame->setName(QStringLiteral("Frame %1-%2-%3").arg(c).arg(s).arg(f));
                frame->setFrameset(set);
                frame->setFrametype(type);
                for (int i = 0; i < icon.size(); i += 4)
                    *reinterpret_cast<quint32 *>(icon.data() + i) = random.generate();
                frame->setIconImageData(icon);
                for (FrameAttribute *attribute : frame->attributes())
                    if (attribute->kindValue() == FrameAttribute::KindImage)
                        attribute->setImageVal(images[random.bounded(int(images.size()))]);
            }
        }
    }
    Error error;
    if (!context.save(&error)) {
        std::printf("build failed: %s\n", qPrintable(error.description));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    const bool quick = bench::takeQuickFlag(argc, argv);
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("KTLibrary.db"));
    QElapsedTimer timer;
    timer.start();
    const int collections = quick ? 1 : 10;
    if (!build(path, collections))
        return 1;
    std::printf("built the library in %lld ms\n", timer.elapsed());

    std::vector<double> opens, saves, firstSaves;
    for (int run = 0; run < (quick ? 1 : 5); ++run) {
        timer.restart();
        auto store = PersistentStore::openSQLite(path, LibraryModel::shared());
        ManagedObjectContext context(LibraryModel::shared());
        context.attachStore(store);
        opens.push_back(timer.nsecsElapsed() / 1e6);
        const qsizetype frames = context.count({Frame::entityName()});
        const qsizetype attributes = context.count({FrameAttribute::entityName()});
        if (run == 0)
            std::printf("loaded %lld frames, %lld attributes\n", qlonglong(frames), qlonglong(attributes));
        // 1,000 frames a collection, as built.
        if (frames != collections * 1000 || attributes < frames) {
            std::printf("the library holds %lld frames, not %d\n", qlonglong(frames), collections * 1000);
            return 1;
        }

        const QList<Frame *> all = context.fetchObjects<Frame>();
        for (int edit = 0; edit < 4; ++edit) {
            Frame *frame = all.at((run * 977 + edit * 2503) % all.size());
            frame->setName(QStringLiteral("Renamed %1-%2").arg(run).arg(edit));
            frame->frameAttributeWithName(QStringLiteral("Act as mask"))->setBoolVal(edit % 2 == 0);
            timer.restart();
            Error error;
            if (!context.save(&error)) {
                std::printf("save failed: %s\n", qPrintable(error.description));
                return 1;
            }
            (edit == 0 ? firstSaves : saves).push_back(timer.nsecsElapsed() / 1e6);
        }
    }
    {
        // The last change is on disk.
        auto store = PersistentStore::openSQLite(path, LibraryModel::shared());
        ManagedObjectContext context(LibraryModel::shared());
        context.attachStore(store);
        const QString last = QStringLiteral("Renamed %1-3").arg(opens.size() - 1);
        const QList<Frame *> all = context.fetchObjects<Frame>();
        if (std::none_of(all.begin(), all.end(), [&](Frame *frame) { return frame->name() == last; })) {
            std::printf("the saved change is not in the store\n");
            return 1;
        }
    }
    std::sort(opens.begin(), opens.end());
    std::sort(saves.begin(), saves.end());
    std::sort(firstSaves.begin(), firstSaves.end());
    const double open = opens[opens.size() / 2];
    const double save = saves[saves.size() / 2];
    std::printf("open (median of %zu): %.1f ms (target < 500 ms)\n", opens.size(), open);
    std::printf("first save after opening, one changed frame (median): %.2f ms (target < 20 ms)\n",
                firstSaves[firstSaves.size() / 2]);
    std::printf("later saves, one changed frame each (median): %.2f ms (target < 20 ms)\n", save);
    std::printf("result: %.1f ms\n", open);
    return 0;
}
