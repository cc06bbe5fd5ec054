#pragma once

#include "platform/Error.h"

#include <QString>

// What the frame library asks of the application delegate. The shell
// implements it and hands it to the LibraryStore; tests use a double.
class AppDelegateServices
{
public:
    virtual ~AppDelegateServices() = default;

    // The first-run import of the initial frame library. It should end with
    // LibraryStore::recordInitialFramesImported, which raises the
    // "ImportedInitialFrames" flag only once the import is really saved.
    virtual void importInitialFrames() = 0;
    virtual void setNeedToImportInitialTemplates(bool need) = 0;
    // The store file is damaged: asked once, after the error was presented.
    // Answering true moves the file aside (never deleted) and starts a fresh
    // store; false goes on without a store for this run.
    virtual bool shouldMoveDamagedStoreAside(const QString &path, const platform::Error &error) = 0;
};
