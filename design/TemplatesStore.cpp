#include "design/TemplatesStore.h"

#include "design/KTTemplate.h"
#include "design/TemplatesModel.h"
#include "platform/Bundle.h"
#include "platform/Error.h"
#include "platform/Log.h"
#include "stores/LibraryStore.h"

#include <QDir>
#include <QFileInfo>

#include <atomic>

namespace {
std::atomic<TemplatesStore *> g_shared = nullptr;
} // namespace

TemplatesStore::TemplatesStore(const QString &supportFolder, QObject *parent)
    : QObject(parent), m_supportFolder(supportFolder)
{
}

TemplatesStore::~TemplatesStore()
{
    TemplatesStore *self = this;
    g_shared.compare_exchange_strong(self, nullptr);
    // Contexts go before their stores.
    m_templatesContext.reset();
    m_variationsContext.reset();
}

TemplatesStore *TemplatesStore::shared()
{
    return g_shared.load();
}

void TemplatesStore::setShared(TemplatesStore *store)
{
    g_shared.store(store);
}

std::shared_ptr<const platform::ManagedObjectModel> TemplatesStore::templatesManagedObjectModel() const
{
    return TemplatesModel::shared();
}

QString TemplatesStore::templatesDatabasePath() const
{
    const QString folder = m_supportFolder.isEmpty() ? platform::applicationSupportFolder() : m_supportFolder;
    return QDir(folder).filePath(QString::fromLatin1(kDatabaseFileName));
}

QUrl TemplatesStore::templatesDatabaseURL() const
{
    return QUrl::fromLocalFile(templatesDatabasePath());
}

platform::PersistentStore *TemplatesStore::templatesPersistentStoreCoordinator()
{
    if (m_templatesCoordinatorMade)
        return m_templatesStore.get();
    m_templatesCoordinatorMade = true;
    const QString path = templatesDatabasePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    platform::Error error;
    m_templatesStore = platform::PersistentStore::openSQLite(path, templatesManagedObjectModel(), &error);
    if (!m_templatesStore) {
        platform::presentError(error);
        if (error.code == platform::StoreDamaged && m_damagedHandler && m_damagedHandler(path, error)) {
            const QString aside = LibraryStore::moveStoreAside(path);
            if (aside.isEmpty()) {
                platform::logLine(QStringLiteral("ERROR: Couldn't move the damaged designs store %1 aside").arg(path));
            } else {
                platform::logLine(QStringLiteral("Warning: The damaged designs store was moved to %1").arg(aside));
                platform::Error again;
                m_templatesStore = platform::PersistentStore::openSQLite(path, templatesManagedObjectModel(), &again);
                if (!m_templatesStore)
                    platform::presentError(again);
            }
        }
    }
    // A new store, or a file that was empty, gets the built-in designs.
    if (m_templatesStore && m_templatesStore->wasCreated())
        setNeedToImportInitialTemplates(true);
    return m_templatesStore.get();
}

platform::ManagedObjectContext *TemplatesStore::templatesManagedObjectContext()
{
    if (m_templatesContext)
        return m_templatesContext.get();
    templatesPersistentStoreCoordinator();
    m_templatesContext = std::make_unique<platform::ManagedObjectContext>(templatesManagedObjectModel());
    if (m_templatesStore) {
        platform::Error error;
        if (!m_templatesContext->attachStore(m_templatesStore, &error))
            platform::presentError(error);
    }
    return m_templatesContext.get();
}

platform::PersistentStore *TemplatesStore::variationsPersistentStoreCoordinator()
{
    if (m_variationsCoordinatorMade)
        return m_variationsStore.get();
    m_variationsCoordinatorMade = true;
    platform::Error error;
    m_variationsStore = platform::PersistentStore::openInMemory(templatesManagedObjectModel(), &error);
    if (!m_variationsStore)
        platform::presentError(error);
    return m_variationsStore.get();
}

platform::ManagedObjectContext *TemplatesStore::variationsManagedObjectContext()
{
    if (m_variationsContext)
        return m_variationsContext.get();
    variationsPersistentStoreCoordinator();
    m_variationsContext = std::make_unique<platform::ManagedObjectContext>(templatesManagedObjectModel());
    if (m_variationsStore) {
        platform::Error error;
        if (!m_variationsContext->attachStore(m_variationsStore, &error))
            platform::presentError(error);
    }
    return m_variationsContext.get();
}

void TemplatesStore::setNeedToImportInitialTemplates(bool need)
{
    m_needToImportInitialTemplates = need;
    if (m_needHandler)
        m_needHandler(need);
}

void TemplatesStore::setNeedToImportInitialTemplatesHandler(std::function<void(bool)> handler)
{
    m_needHandler = std::move(handler);
}

QList<QUrl> TemplatesStore::builtInTemplateURLs()
{
    const QDir folder(QDir(platform::Bundle::resourcePath()).filePath(QString::fromLatin1(kBuiltInTemplatesFolder)));
    QList<QUrl> urls;
    const QStringList names = folder.entryList(
        {QStringLiteral("*.") + QString::fromLatin1(KTTemplate::kPackageExtension)}, QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot,
        QDir::Name);
    for (const QString &name : names)
        urls.append(QUrl::fromLocalFile(folder.filePath(name)));
    return urls;
}

int TemplatesStore::importInitialTemplates(platform::ManagedObjectContext *library)
{
    return KTTemplate::importTemplatesFromURLs(builtInTemplateURLs(), templatesManagedObjectContext(), library);
}
