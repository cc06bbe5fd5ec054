#include "batch/KTBatchProcessingOptions.h"

#include "platform/Assert.h"
#include "platform/Bundle.h"
#include "platform/Log.h"
#include "platform/archive/PropertyList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QVariantMap>

KTBatchProcessingOptions::KTBatchProcessingOptions(QList<QUrl> files, KTImageFileFormat format,
                                                   std::shared_ptr<KTBatchProcessingTemplate> design,
                                                   std::shared_ptr<const KTImageScaling> scaling,
                                                   QString filenamePrefix, QString filenameSuffix)
    : m_files(std::move(files))
    , m_fileFormat(std::move(format))
    , m_template(std::move(design))
    , m_scaling(std::move(scaling))
    , m_filenamePrefix(std::move(filenamePrefix))
    , m_filenameSuffix(std::move(filenameSuffix))
{
}

QByteArray KTBatchProcessingOptions::presetData() const
{
    QVariantMap plist;
    if (m_template)
        plist.insert(QString::fromLatin1(kTemplateKey), m_template->archivedData());
    plist.insert(QString::fromLatin1(kFormatKey), m_fileFormat.UTI());
    if (m_scaling)
        plist.insert(QString::fromLatin1(kScalingKey), m_scaling->archivedData());
    if (!m_filenamePrefix.isNull())
        plist.insert(QString::fromLatin1(kPrefixKey), m_filenamePrefix);
    if (!m_filenameSuffix.isNull())
        plist.insert(QString::fromLatin1(kSuffixKey), m_filenameSuffix);
    platform::Error error;
    const QByteArray data = platform::PropertyList::write(plist, platform::PropertyList::Format::XML, &error);
    KT_ASSERT(!data.isEmpty(), QStringLiteral("Failed to create a plist data: %1").arg(error.description));
    return data;
}

std::shared_ptr<const KTBatchProcessingOptions> KTBatchProcessingOptions::initWithData(const QByteArray &data,
                                                                                       const KTDesignStores &stores)
{
    platform::Error error;
    const QVariant root = platform::PropertyList::read(data, &error);
    if (!root.isValid() || root.typeId() != QMetaType::QVariantMap) {
        platform::logLine(QString::fromLatin1(kUnreadablePresetFormat)
                              .arg(root.isValid() ? QStringLiteral("the root is no dictionary") : error.description));
        return nullptr;
    }
    const QVariantMap plist = root.toMap();
    auto bytes = [&plist](const char *key) {
        const QVariant v = plist.value(QString::fromLatin1(key));
        return v.typeId() == QMetaType::QByteArray ? v.toByteArray() : QByteArray();
    };
    // A key present with an empty text is an empty prefix, not none.
    auto text = [&plist](const char *key) {
        const QVariant v = plist.value(QString::fromLatin1(key));
        if (v.typeId() != QMetaType::QString)
            return QString();
        const QString s = v.toString();
        return s.isNull() ? QStringLiteral("") : s;
    };
    const auto design = KTBatchProcessingTemplate::fromArchivedData(bytes(kTemplateKey), stores);
    std::shared_ptr<const KTImageScaling> scaling = KTImageScaling::fromArchivedData(bytes(kScalingKey));
    if (!scaling)
        scaling = KTImageScaling::defaultScaling();
    const std::optional<KTImageFileFormat> format = KTImageFileFormat::initWithImageUTI(text(kFormatKey));
    return std::make_shared<const KTBatchProcessingOptions>(QList<QUrl>(),
                                                            format.value_or(KTImageFileFormat::JPGFileFormat()), design,
                                                            scaling, text(kPrefixKey), text(kSuffixKey));
}

QString KTBatchProcessingOptions::outputFileNameForInput(const QUrl &input) const
{
    const QString base = QFileInfo(input.toLocalFile()).completeBaseName();
    const QStringList extensions = m_fileFormat.fileExtensions();
    const QString extension = extensions.isEmpty() ? QString() : extensions.first();
    KT_ASSERT(!extension.isEmpty(), QStringLiteral("Proposed extension is empty"));
    return QStringLiteral("%1%2%3.%4").arg(m_filenamePrefix, base, m_filenameSuffix, extension);
}

QString KTBatchProcessingOptions::batchConfigurationPresetsDirectory(const QString &supportFolder)
{
    const QString support = supportFolder.isEmpty() ? platform::applicationSupportFolder() : supportFolder;
    if (support.isEmpty())
        return {};
    const QString folder = QDir(support).filePath(QString::fromLatin1(kPresetsFolderName));
    if (!QFileInfo::exists(folder) && !QDir().mkpath(folder)) {
        platform::logLine(QString::fromLatin1(kPresetsFolderFailedFormat).arg(QUrl::fromLocalFile(folder).toString(),
                                                                             QStringLiteral("the folder can't be made")));
        return {};
    }
    return folder;
}

QString KTBatchProcessingOptions::defaultBatchConfigurationPresetPath(const QString &supportFolder)
{
    const QString folder = batchConfigurationPresetsDirectory(supportFolder);
    return folder.isEmpty() ? QString() : QDir(folder).filePath(QString::fromLatin1(kLastUsedPresetName));
}

bool KTBatchProcessingOptions::writePreset(const QString &path) const
{
    if (path.isEmpty())
        return false;
    const QByteArray data = presetData();
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit();
}

std::shared_ptr<const KTBatchProcessingOptions> KTBatchProcessingOptions::readPreset(const QString &path,
                                                                                     const KTDesignStores &stores)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return nullptr;
    // A preset is a few hundred bytes; anything huge is no preset of ours.
    if (file.size() > (16 << 20))
        return nullptr;
    return initWithData(file.readAll(), stores);
}
