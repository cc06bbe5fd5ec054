#pragma once

#include "design/KTDesignStores.h"
#include "platform/archive/Coding.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <memory>
#include <mutex>

class KTTemplate;

// The design a batch applies, in a form a preset keeps across launches:
// a saved design by its name, or a design package by its absolute path.
// It resolves to the design and to its template archive, which every file
// of a run decodes.
//
// Archived under "source", "templateName" and, for a package, its path under
// "externalTemplateURLBookmark". A saved design is looked up lazily on the
// main thread, once, whichever thread asks first, in the stores the
// reference was made with; those also give the frames the design's archive
// is read against.
class KTBatchProcessingTemplate : public platform::Coding
{
public:
    static constexpr const char *kClassName = "KTBatchProcessingTemplate";
    static constexpr const char *kSourceKey = "source";
    static constexpr const char *kTemplateNameKey = "templateName";
    static constexpr const char *kBookmarkKey = "externalTemplateURLBookmark";
    static constexpr const char *kResolveFailedFormat = "Failed to resolve a security-scoped bookmark: %1";
    static constexpr const char *kNotATemplateFormat = "Resolved URL does not point to a valid template file: %1";
    static constexpr const char *kWrapperFailedFormat = "Couldn't create File Wrapper for a template at URL: %1. Error: %2";
    static constexpr const char *kBookmarkFailedFormat = "Unable to create a URL bookmark for %1: %2";

    enum Source : qint64 { Builtin = 0, External = 1 };

    // Made by the keyed unarchiver.
    KTBatchProcessingTemplate() = default;
    static std::shared_ptr<KTBatchProcessingTemplate> initWithBuiltinTemplateNamed(const QString &name,
                                                                                   const KTDesignStores &stores);
    static std::shared_ptr<KTBatchProcessingTemplate> initWithExternalTemplate(
        const std::shared_ptr<KTTemplate> &design, const QUrl &packageURL, const KTDesignStores &stores);

    Source source() const { return m_source; }
    QString name() const { return m_name; }
    QUrl externalURL() const;

    // The design; a saved design is found on first use. None when no saved
    // design has the name or the package could not be read. Any thread.
    std::shared_ptr<KTTemplate> templateObject();
    // Its template archive; any thread.
    QByteArray encoded();
    void setTemplate(std::shared_ptr<KTTemplate> design);
    void setEncoded(const QByteArray &data);

    QStringList archiveClassNames() const override;
    void encode(platform::KeyedArchiver &coder) const override;
    void decode(platform::KeyedUnarchiver &coder) override;
    static void registerArchiveClass();
    QByteArray archivedData() const;
    static std::shared_ptr<KTBatchProcessingTemplate> fromArchivedData(const QByteArray &data,
                                                                       const KTDesignStores &stores);
    const KTDesignStores &stores() const { return m_stores; }

private:
    // On the main thread: looks the saved design up when nothing is held yet.
    void fillBuiltinOnMainThread();
    // Reads the package a decoded reference names.
    void readExternalTemplate();

    Source m_source = Builtin;
    QString m_name;
    QString m_externalPath;
    mutable std::mutex m_mutex;
    bool m_looked = false;
    std::shared_ptr<KTTemplate> m_template;
    QByteArray m_encoded;
    KTDesignStores m_stores;
};
