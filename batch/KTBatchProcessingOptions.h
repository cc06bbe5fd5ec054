#pragma once

#include "batch/KTBatchProcessingTemplate.h"
#include "batch/KTImageFileFormat.h"
#include "batch/KTImageScaling.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

// One batch run, never changed once made: the files, the design, the output
// format, size rule and quality, and the name's prefix and suffix (a null
// string for none). Without its files it is the batch preset, an XML
// property list {"template", "format.uti", "scaling", "prefix", "suffix"}.
class KTBatchProcessingOptions
{
public:
    static constexpr const char *kTemplateKey = "template";
    static constexpr const char *kFormatKey = "format.uti";
    static constexpr const char *kScalingKey = "scaling";
    static constexpr const char *kPrefixKey = "prefix";
    static constexpr const char *kSuffixKey = "suffix";
    static constexpr const char *kPresetsFolderName = "Batch Presets";
    static constexpr const char *kLastUsedPresetName = "LastUsedPreset.plist";
    static constexpr const char *kUnreadablePresetFormat = "Unable to deserialize a options plist: %1";
    static constexpr const char *kPresetsFolderFailedFormat =
        "Could not create a directory for batch configuration presets at %1: %2";

    KTBatchProcessingOptions(QList<QUrl> files, KTImageFileFormat format,
                             std::shared_ptr<KTBatchProcessingTemplate> design,
                             std::shared_ptr<const KTImageScaling> scaling, QString filenamePrefix,
                             QString filenameSuffix);
    // A preset: none when the data are no property list with a dictionary at
    // its root. A damaged part is left out (no design, JPEG, the default
    // size), never the whole preset.
    // The design is read against `stores`.
    static std::shared_ptr<const KTBatchProcessingOptions> initWithData(const QByteArray &data,
                                                                        const KTDesignStores &stores);
    QByteArray presetData() const;

    const QList<QUrl> &files() const { return m_files; }
    const KTImageFileFormat &fileFormat() const { return m_fileFormat; }
    const std::shared_ptr<KTBatchProcessingTemplate> &batchTemplate() const { return m_template; }
    const std::shared_ptr<const KTImageScaling> &scaling() const { return m_scaling; }
    QString filenamePrefix() const { return m_filenamePrefix; }
    QString filenameSuffix() const { return m_filenameSuffix; }

    // "<prefix><base name><suffix>.<first extension>".
    QString outputFileNameForInput(const QUrl &input) const;

    // "Batch Presets" in the support folder, made when missing; empty when it can't be.
    static QString batchConfigurationPresetsDirectory(const QString &supportFolder = QString());
    // Its "LastUsedPreset.plist"; empty without the folder.
    static QString defaultBatchConfigurationPresetPath(const QString &supportFolder = QString());
    // Replaces the file whole, or leaves it as it was.
    bool writePreset(const QString &path) const;
    // None for a missing or unreadable file.
    static std::shared_ptr<const KTBatchProcessingOptions> readPreset(const QString &path,
                                                                      const KTDesignStores &stores);

private:
    QList<QUrl> m_files;
    KTImageFileFormat m_fileFormat;
    std::shared_ptr<KTBatchProcessingTemplate> m_template;
    std::shared_ptr<const KTImageScaling> m_scaling;
    QString m_filenamePrefix;
    QString m_filenameSuffix;
};
