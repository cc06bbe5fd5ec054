#pragma once

// Shared set-up for the frame library's tests: a library context on a real
// store, a stand-in for the application delegate, and the process-wide
// library whose graphics folder the FrameImages use.

#include "platform/Error.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "platform/objectstore/PersistentStore.h"
#include "stores/AppDelegateServices.h"
#include "stores/FrameCollection.h"
#include "stores/FrameImage.h"
#include "stores/FrameSet.h"
#include "stores/FrameType.h"
#include "stores/LibraryModel.h"
#include "stores/LibraryStore.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QUuid>

#include <memory>

namespace librarytest {

struct ShellDouble : AppDelegateServices {
    int importRequests = 0;
    bool needTemplates = false;
    int movePrompts = 0;
    bool agreeToMove = false;
    void importInitialFrames() override { ++importRequests; }
    void setNeedToImportInitialTemplates(bool need) override { needTemplates = need; }
    bool shouldMoveDamagedStoreAside(const QString &, const platform::Error &) override
    {
        ++movePrompts;
        return agreeToMove;
    }
};

inline QString freshFolder()
{
    const QString dir = testsupport::scratchDir() + '/' + QUuid::createUuid().toString(QUuid::Id128);
    QDir().mkpath(dir);
    return dir;
}

// The frame type of the name, made when the store lacks it.
inline FrameType *frameTypeNamed(platform::ManagedObjectContext *moc, const QString &name)
{
    if (FrameType *type = FrameType::frameTypeWithName(name, moc))
        return type;
    FrameType *type = FrameType::insertInManagedObjectContext(moc);
    type->setName(name);
    return type;
}

// The first collection, set or frame (T) of the name, else null.
template <class T> T *findNamed(platform::ManagedObjectContext *moc, const QString &name)
{
    for (T *object : moc->fetchObjects<T>())
        if (object->name() == name)
            return object;
    return nullptr;
}

inline FrameCollection *newCollection(platform::ManagedObjectContext *moc, const QString &name)
{
    auto *collection = FrameCollection::insertInManagedObjectContext(moc);
    collection->setName(name);
    return collection;
}

inline FrameSet *newSet(platform::ManagedObjectContext *moc, FrameCollection *collection, const QString &name)
{
    auto *set = FrameSet::insertInManagedObjectContext(moc);
    set->setName(name);
    set->setFramecollection(collection);
    return set;
}

inline LibraryStore &sharedLibrary();

// A library context on its own store file, its pictures in the graphics
// folder of sharedLibrary().
struct Library {
    QString path = freshFolder() + QStringLiteral("/KTLibrary.db");
    std::shared_ptr<platform::PersistentStore> store;
    std::unique_ptr<platform::ManagedObjectContext> context;

    Library() { open(); }
    void open()
    {
        context.reset();
        store = platform::PersistentStore::openSQLite(path, LibraryModel::shared());
        context = std::make_unique<platform::ManagedObjectContext>(LibraryModel::shared());
        context->attachStore(store);
        context->setUserInfoValue(QString::fromLatin1(FrameImage::kImagesFolderKey),
                                  sharedLibrary().framesGraphicsFolder());
    }
    platform::ManagedObjectContext *moc() { return context.get(); }
};

// The shared library of the process, made once with a graphics folder that
// exists; the contexts of Library keep their pictures there too.
inline LibraryStore &sharedLibrary()
{
    static ShellDouble shell;
    static LibraryStore *store = [] {
        auto *s = new LibraryStore(&shell, testsupport::scratchDir() + QStringLiteral("/support"));
        LibraryStore::setShared(s);
        QDir().mkpath(s->framesGraphicsFolder());
        return s;
    }();
    return *store;
}

inline QString imagesFolder()
{
    return sharedLibrary().framesGraphicsFolder();
}

} // namespace librarytest
