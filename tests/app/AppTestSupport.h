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
#include "support/TestSupport.h"

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
