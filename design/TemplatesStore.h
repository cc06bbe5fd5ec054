#pragma once

#include "platform/objectstore/ManagedObjectContext.h"
#include "platform/objectstore/PersistentStore.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

// The two stores of designs: the templates store "KTTemplates.db" in the
// support folder (the user's saved designs, kept across runs) and the
// variations store in memory (the variations of one run, never written).
// Both share one model and are made on first use, on the main thread; the
// contexts are never saved here (their users save the templates context).
//
// The shell owns one, makes it shared() and, at the end of a first-run frame
// import, calls importInitialTemplates() when needToImportInitialTemplates().
class TemplatesStore : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *kDatabaseFileName = "KTTemplates.db";
    static constexpr const char *kBuiltInTemplatesFolder = "Templates";

    // With an empty `supportFolder`, the application's support folder.
    explicit TemplatesStore(const QString &supportFolder = QString(), QObject *parent = nullptr);
    ~TemplatesStore() override;

    static TemplatesStore *shared();
    static void setShared(TemplatesStore *store);

    std::shared_ptr<const platform::ManagedObjectModel> templatesManagedObjectModel() const;
    QString templatesDatabasePath() const;
    QUrl templatesDatabaseURL() const;
    // Opens the store file (a new or empty one raises the first-run flag); a
    // store that can't be opened is presented as an error, and the answer is
    // null: the context then works without a store.
    platform::PersistentStore *templatesPersistentStoreCoordinator();
    platform::ManagedObjectContext *templatesManagedObjectContext();
    platform::PersistentStore *variationsPersistentStoreCoordinator();
    platform::ManagedObjectContext *variationsManagedObjectContext();

    bool needToImportInitialTemplates() const { return m_needToImportInitialTemplates; }
    // Also tells the handler, when one is set (the application delegate's flag).
    void setNeedToImportInitialTemplates(bool need);
    void setNeedToImportInitialTemplatesHandler(std::function<void(bool)> handler);
    // Asked once when the store file is damaged, after the error was shown:
    // true moves the file aside (kept, never deleted) and starts a new store,
    // which then needs the built-in designs.
    using DamagedStoreHandler = std::function<bool(const QString &path, const platform::Error &error)>;
    void setDamagedStoreHandler(DamagedStoreHandler handler) { m_damagedHandler = std::move(handler); }

    // The packages in the resources' "Templates" folder, by name.
    static QList<QUrl> builtInTemplateURLs();
    // Imports the built-in packages into the templates context (unsaved);
    // those whose GUID is already there are skipped; their frames are looked
    // up in `library`. Answers how many were added.
    int importInitialTemplates(platform::ManagedObjectContext *library);

private:
    QString m_supportFolder;
    bool m_needToImportInitialTemplates = false;
    std::function<void(bool)> m_needHandler;
    DamagedStoreHandler m_damagedHandler;
    bool m_templatesCoordinatorMade = false;
    bool m_variationsCoordinatorMade = false;
    std::shared_ptr<platform::PersistentStore> m_templatesStore;
    std::shared_ptr<platform::PersistentStore> m_variationsStore;
    std::unique_ptr<platform::ManagedObjectContext> m_templatesContext;
    std::unique_ptr<platform::ManagedObjectContext> m_variationsContext;
};
