#include "batch/KTBatchProcessingTemplate.h"

#include "design/KTTemplate.h"
#include "design/Variation.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedClassRegistry.h"
#include "platform/archive/KeyedUnarchiver.h"

#include <QDir>
#include <QFileInfo>

std::shared_ptr<KTBatchProcessingTemplate> KTBatchProcessingTemplate::initWithBuiltinTemplateNamed(
    const QString &name, const KTDesignStores &stores)
{
    auto reference = std::make_shared<KTBatchProcessingTemplate>();
    reference->m_stores = stores;
    reference->m_source = Builtin;
    reference->m_name = name;
    return reference;
}

std::shared_ptr<KTBatchProcessingTemplate> KTBatchProcessingTemplate::initWithExternalTemplate(
    const std::shared_ptr<KTTemplate> &design, const QUrl &packageURL, const KTDesignStores &stores)
{
    auto reference = std::make_shared<KTBatchProcessingTemplate>();
    reference->m_stores = stores;
    reference->m_source = External;
    reference->m_externalPath = packageURL.isLocalFile() ? QFileInfo(packageURL.toLocalFile()).absoluteFilePath() : QString();
    reference->m_name = design ? design->name() : QString();
    reference->m_template = design;
    reference->m_encoded = design ? design->dataForArchiving() : QByteArray();
    reference->m_looked = true;
    return reference;
}

QUrl KTBatchProcessingTemplate::externalURL() const
{
    return m_externalPath.isEmpty() ? QUrl() : QUrl::fromLocalFile(m_externalPath);
}

void KTBatchProcessingTemplate::fillBuiltinOnMainThread()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_looked || m_source != Builtin)
        return;
    m_looked = true;
    platform::ManagedObjectContext *moc = m_stores.templates;
    if (!moc)
        return;
    const Variation *variation = Variation::variationWithName(m_name, moc);
    if (!variation)
        return;
    m_template = KTTemplate::templateFromVariation(variation, m_stores.library);
    if (m_template)
        m_encoded = variation->data();
}

std::shared_ptr<KTTemplate> KTBatchProcessingTemplate::templateObject()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_looked || m_source != Builtin)
            return m_template;
    }
    // The lookup runs on the main thread, never while this thread holds the
    // lock, so the main thread asking at the same moment cannot deadlock.
    platform::runOnMainThread([this] { fillBuiltinOnMainThread(); }, true);
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_template;
}

QByteArray KTBatchProcessingTemplate::encoded()
{
    templateObject();
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_encoded;
}

void KTBatchProcessingTemplate::setTemplate(std::shared_ptr<KTTemplate> design)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_template = std::move(design);
    m_looked = true;
}

void KTBatchProcessingTemplate::setEncoded(const QByteArray &data)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_encoded = data;
}

// --- archive ---

QStringList KTBatchProcessingTemplate::archiveClassNames() const
{
    return {QString::fromLatin1(kClassName), QStringLiteral("NSObject")};
}

void KTBatchProcessingTemplate::encode(platform::KeyedArchiver &coder) const
{
    coder.encodeInteger(qint64(m_source), QString::fromLatin1(kSourceKey));
    if (m_name.isNull())
        coder.encodeObject(QVariant(), QString::fromLatin1(kTemplateNameKey));
    else
        coder.encodeString(m_name, QString::fromLatin1(kTemplateNameKey));
    if (m_source != External)
        return;
    // A plain absolute path stands in for the bookmark.
    if (m_externalPath.isEmpty()) {
        platform::logLine(QString::fromLatin1(kBookmarkFailedFormat).arg(QStringLiteral("(none)"), QStringLiteral("no location")));
        return;
    }
    coder.encodeString(m_externalPath, QString::fromLatin1(kBookmarkKey));
}

void KTBatchProcessingTemplate::decode(platform::KeyedUnarchiver &coder)
{
    const qint64 source = coder.decodeIntegerForKey(QString::fromLatin1(kSourceKey));
    m_source = source == External ? External : Builtin;
    m_name = coder.decodeStringForKey(QString::fromLatin1(kTemplateNameKey));
    m_looked = m_source == External;
    if (m_source != External)
        return;
    const QVariant stored = coder.decodeObjectForKey(QString::fromLatin1(kBookmarkKey));
    QString path;
    if (stored.typeId() == QMetaType::QString)
        path = stored.toString();
    else if (stored.typeId() == QMetaType::QByteArray)
        path = QString::fromUtf8(stored.toByteArray());
    if (path.isEmpty() || !QDir::isAbsolutePath(path) || !QFileInfo::exists(path)) {
        platform::logLine(QString::fromLatin1(kResolveFailedFormat)
                              .arg(path.isEmpty() ? QStringLiteral("no location stored") : QStringLiteral("nothing at %1").arg(path)));
        return;
    }
    const QUrl url = QUrl::fromLocalFile(path);
    if (!KTTemplate::isTemplateAtURL(url)) {
        platform::logLine(QString::fromLatin1(kNotATemplateFormat).arg(url.toString()));
        return;
    }
    m_externalPath = path;
}

void KTBatchProcessingTemplate::readExternalTemplate()
{
    const QUrl url = QUrl::fromLocalFile(m_externalPath);
    const std::optional<platform::FileWrapper> wrapper = KTTemplate::fileWrapperForURL(url);
    if (!wrapper) {
        platform::logLine(QString::fromLatin1(kWrapperFailedFormat).arg(url.toString(), QStringLiteral("unreadable")));
        return;
    }
    m_template = KTTemplate::templateFromFileWrapper(*wrapper, m_stores.library);
    if (!m_template)
        return;
    m_template->setName(QFileInfo(m_externalPath).fileName());
    m_encoded = m_template->dataForArchiving();
}

void KTBatchProcessingTemplate::registerArchiveClass()
{
    static std::once_flag once;
    std::call_once(once, [] {
        platform::KeyedClassRegistry::shared().registerClass<KTBatchProcessingTemplate>(QString::fromLatin1(kClassName));
    });
}

QByteArray KTBatchProcessingTemplate::archivedData() const
{
    registerArchiveClass();
    // The archiver holds the object only while it writes.
    std::shared_ptr<const platform::Coding> self(std::shared_ptr<const platform::Coding>(), this);
    return platform::KeyedArchiver::archivedDataWithRootObject(self);
}

std::shared_ptr<KTBatchProcessingTemplate> KTBatchProcessingTemplate::fromArchivedData(const QByteArray &data,
                                                                                       const KTDesignStores &stores)
{
    registerArchiveClass();
    if (data.isEmpty())
        return nullptr;
    const auto result = platform::KeyedUnarchiver::unarchiveTopLevelObjectWithData(data);
    if (!result.ok()) {
        platform::logLine(QStringLiteral("Warning: the design of a preset can't be read: %1").arg(result.error().description));
        return nullptr;
    }
    auto reference =
        std::dynamic_pointer_cast<KTBatchProcessingTemplate>(result.value().value<std::shared_ptr<platform::Coding>>());
    if (!reference)
        return nullptr;
    reference->m_stores = stores;
    if (reference->m_source == External && !reference->m_externalPath.isEmpty())
        reference->readExternalTemplate();
    return reference;
}
