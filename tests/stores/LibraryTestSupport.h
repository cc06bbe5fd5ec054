#pragma once

// Shared set-up for the frame library's tests: a library context on a real
// store, a stand-in for the application delegate, and the process-wide
// library whose graphics folder the FrameImages use.

#include "platform/Error.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "platform/objectstore/PersistentStore.h"
#include "stores/AppDelegateServices.h"
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

// A library context on its own store file.
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
    }
    platform::ManagedObjectContext *moc() { return context.get(); }
};

// The library the entities reach through LibraryStore::shared(), made once
// per process with a graphics folder that exists.
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

} // namespace librarytest
