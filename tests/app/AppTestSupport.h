#pragma once

// Shared pieces of the application shell's tests: a real SQLite store for
// the frames and templates contexts, photos written to disk, and presenters
// that answer alerts as a user would.

#include "platform/Alert.h"
#include "platform/Error.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "platform/objectstore/PersistentStore.h"
#include "platform/objectstore/SqliteDatabase.h"
#include "platform/ObjectStoreTestModel.h"
#include "platform/objectstore/ObjectID.h"
#include "stores/Frame.h"
#include "stores/FrameCollection.h"
#include "stores/FrameImage.h"
#include "stores/FrameSet.h"
#include "stores/FrameType.h"
#include "stores/FrameAttribute.h"
#include "stores/KTFrameLibraryExporter.h"
#include "stores/LibraryModel.h"
#include "stores/LibraryStore.h"
#include "support/TestSupport.h"

#include <QFile>

#include <QDir>
#include <QImage>
#include <QStringList>
#include <QUuid>

#include <memory>

namespace apptest {

inline QString freshDir()
{
    const QString dir = testsupport::scratchDir() + '/' + QUuid::createUuid().toString(QUuid::Id128);
    QDir().mkpath(dir);
    return dir;
}

// A context on a real SQLite file, as the stores give the delegate.
struct Store {
    QString path;
    std::shared_ptr<platform::PersistentStore> store;
    std::unique_ptr<platform::ManagedObjectContext> context;

    explicit Store(const QString &file)
        : path(file)
    {
        auto model = storetest::makeModel();
        platform::Error error;
        store = platform::PersistentStore::openSQLite(path, model, &error);
        context = std::make_unique<platform::ManagedObjectContext>(model);
        if (store)
            context->attachStore(store, &error);
    }
    qsizetype shelvesOnDisk() const
    {
        Store other(path);
        return other.context->fetchObjects<storetest::Shelf>().size();
    }
    // Makes every later save of a shelf fail inside SQLite.
    void refuseShelves() const
    {
        platform::SqliteDatabase db;
        db.open(path, false);
        db.exec("CREATE TRIGGER refuse BEFORE INSERT ON Shelf BEGIN SELECT RAISE(ABORT, 'shelves refused'); END");
    }
};

// Answers alerts by button title and records what was asked.
struct AlertAnswers {
    QStringList answers; // a button title per alert, in order
    QList<platform::AlertRequest> asked;
    QList<platform::Error> errors;

    void install()
    {
        platform::setAlertPresenter([this](const platform::AlertRequest &request) {
            asked.append(request);
            const QString answer = answers.isEmpty() ? QString() : answers.takeFirst();
            const qsizetype index = request.buttons.indexOf(answer);
            return int(index < 0 ? 0 : index);
        });
        platform::setErrorPresenter([this](const platform::Error &error) { errors.append(error); });
    }
    ~AlertAnswers()
    {
        platform::setAlertPresenter(nullptr);
        platform::setErrorPresenter(nullptr);
    }
};

// A library store file opened a second time, to see what reached the disk.
inline QStringList collectionNamesOnDisk(const QString &storePath)
{
    platform::Error error;
    auto store = platform::PersistentStore::openSQLite(storePath, LibraryModel::shared(), &error);
    if (!store)
        return {QStringLiteral("<unreadable>")};
    platform::ManagedObjectContext moc(LibraryModel::shared());
    moc.attachStore(store, &error);
    QStringList names;
    for (FrameCollection *collection : moc.fetchObjects<FrameCollection>())
        names << collection->name();
    names.sort();
    return names;
}

// Makes every later save of a frame collection fail inside SQLite.
inline void refuseCollections(const QString &storePath)
{
    platform::SqliteDatabase db;
    db.open(storePath, false);
    db.exec("CREATE TRIGGER refuse BEFORE INSERT ON FrameCollection BEGIN SELECT RAISE(ABORT, 'refused'); END");
}

// A real frame archive with one collection "Woods", one set "Oak" and two
// frames using one graphic file, written once per process by the exporter.
inline QString frameArchive()
{
    static const QString path = [] {
        const QString folder = freshDir();
        static LibraryStore source(nullptr, folder + QStringLiteral("/source"));
        if (!LibraryStore::shared())
            LibraryStore::setShared(&source);
        QDir().mkpath(source.framesGraphicsFolder());
        platform::ManagedObjectContext *moc = source.managedObjectContext();

        const QString guid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".png");
        QImage picture(24, 16, QImage::Format_ARGB32);
        picture.fill(QColor(140, 90, 40));
        picture.save(source.framesGraphicsFolder() + '/' + guid, "PNG");
        FrameImage *image = FrameImage::insertFrameImageWithGUIDAndDisplayName(guid, QStringLiteral("oak.png"), moc);

        FrameCollection *collection = FrameCollection::insertInManagedObjectContext(moc);
        collection->setName(QStringLiteral("Woods"));
        collection->setIcon(image);
        FrameSet *set = FrameSet::insertInManagedObjectContext(moc);
        set->setName(QStringLiteral("Oak"));
        set->setFramecollection(collection);
        for (const char *name : {"Oak full", "Oak wide"}) {
            Frame *frame = Frame::insertInManagedObjectContext(moc);
            frame->setName(QString::fromLatin1(name));
            frame->setFrameset(set);
            frame->setFrametype(FrameType::frameTypeWithName(QStringLiteral("Full frame"), moc));
            frame->frameAttributeWithName(QStringLiteral("Landscape Image"))->setImageVal(image);
        }
        moc->save();

        struct Recorder : KTFrameLibraryExporterDelegate {
            std::optional<bool> result;
            void progressUpdated(const KTFrameLibraryExportProgress &) override {}
            void exportFinished(bool ok) override { result = ok; }
        } recorder;
        const QString archive = folder + QStringLiteral("/Woods.ktframes");
        auto exporter = std::make_shared<KTFrameLibraryExporter>(QList<platform::ManagedObject *>{collection},
                                                                 QList<platform::ManagedObject *>{},
                                                                 QUrl::fromLocalFile(archive));
        exporter->setCountOfItems(4);
        exporter->startExportWithDelegate(&recorder);
        exporter.reset();
        testsupport::waitUntil([&] { return recorder.result.has_value(); });
        if (LibraryStore::shared() == &source)
            LibraryStore::setShared(nullptr);
        return recorder.result.value_or(false) ? archive : QString();
    }();
    return path;
}

inline QString writePhoto(const QString &dir, const QString &name = QStringLiteral("photo.jpg"),
                          QSize size = QSize(120, 80))
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(200, 120, 40));
    const QString path = dir + '/' + name;
    image.save(path, "JPEG", 90);
    return path;
}

} // namespace apptest
