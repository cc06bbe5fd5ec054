#pragma once

#include "design/KTTemplate.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <optional>

// The two stored forms of a design. The template archive is the keyed
// archive whose root, under "template", is the design with its settings and
// its layers, each layer by its own class. The template package is a folder
// ending in "KTTemplate" that holds the archive, optionally the photo, the
// keywords and the GUID, and two previews. KTTemplate forwards its archive
// and package calls here.
class KTTemplatePackage
{
public:
    static constexpr const char *kTemplateArchiveKey = KTTemplate::kTemplateArchiveKey;
    static constexpr const char *kPackageExtension = KTTemplate::kPackageExtension;
    static constexpr const char *kTemplateEntry = "Template";
    static constexpr const char *kImageEntry = KTTemplate::kImageEntry;
    static constexpr const char *kKeywordsEntry = "Keywords";
    static constexpr const char *kGUIDEntry = "GUID";
    static constexpr const char *kQuickLookEntry = "QuickLook";
    static constexpr const char *kPreviewEntry = "Preview.jpg";
    static constexpr const char *kThumbnailEntry = "Thumbnail.jpg";
    static constexpr int kPreviewSide = 512;
    static constexpr const char *kTemplatesEvent = "Templates";
    static constexpr const char *kFileWrapperFailedFormat = "Coundn't create File Wrapper for URL: %1. ERROR: %2";

    // --- archive ---
    // "drawShadows", "exportExternalShadow", "shadowAngle" and "shadowOffset"
    // (32-bit floats), "layers" (a mutable array, outermost first), "name".
    static void encode(const KTTemplate &d, platform::KeyedArchiver &coder);
    // Refuses (failWithError) a layer list that has a photo layer anywhere
    // but last, or more than one: such a design could not be drawn; and one
    // beyond KTTemplate::kMaxLayers or KTTemplate::kMaxShadowReach.
    static void decode(KTTemplate &d, platform::KeyedUnarchiver &coder);
    static void registerArchiveClass();
    static QByteArray dataForArchiving(const KTTemplate &d);
    // `ownArchive`: written by this program for the user (a saved design, a
    // batch's copy), so an overlay may read the picture file the user picked
    // by its path, and no count of layers or text refuses it; a design read
    // from a file draws only the pictures it carries and keeps every limit.
    static std::shared_ptr<KTTemplate> templateFromData(const QByteArray &data, platform::ManagedObjectContext *library,
                                                        platform::Error *error, bool ownArchive = true);

    // --- package ---
    static std::shared_ptr<KTTemplate> templateFromVariation(const Variation *variation,
                                                             platform::ManagedObjectContext *library,
                                                             platform::Error *error = nullptr);
    static platform::FileWrapper fileWrapperWithImageLayer(KTTemplate &d, bool withImage, const QStringList &tagNames,
                                                           const QString &guid);
    static bool saveToURL(KTTemplate &d, const QUrl &url, const QStringList &tagNames, const QString &guid,
                          bool withImage);
    static std::shared_ptr<KTTemplate> templateFromFileWrapper(const platform::FileWrapper &wrapper,
                                                               platform::ManagedObjectContext *library,
                                                               QStringList *tagNames, platform::Error *error = nullptr);
    static std::optional<platform::FileWrapper> fileWrapperForURL(const QUrl &url);
    static bool isTemplateAtURL(const QUrl &url);
    static QString imageFilePathInPackage(const QUrl &url);
    // A new Variation of the design: its icon, its name unless it is the
    // design's default, its archive and its GUID when it carries one (which
    // the context must not have yet). Not saved, no tags.
    static Variation *variationFromTemplate(const KTTemplate *design, platform::ManagedObjectContext *moc);
    static int importTemplatesFromURLs(const QList<QUrl> &urls, platform::ManagedObjectContext *moc,
                                       platform::ManagedObjectContext *library, QStringList *guids = nullptr);
};
