#pragma once

// The keys of the registered defaults the shell reads and writes: export
// format, quality, size and name rules, the presentation settings and the
// start-up choices. Kept below the shell, since batch runs read the export
// ones too.
struct KTPreferenceKeys {
    static constexpr const char *kOutputImageQualityKey = "OutputImageQuality";
    static constexpr const char *kOutputImageSizeComboKey = "OutputImageSizeCombo";
    static constexpr const char *kOutputImageFormatKey = "OutputImageFormat";
    static constexpr const char *kExportSizeModificationKey = "ExportSizeModification";
    static constexpr const char *kExportFilenameModificationKey = "ExportFilenameModification";
    static constexpr const char *kExportFixHeightKey = "ExportFixHeight";
    static constexpr const char *kExportFixWidthKey = "ExportFixWidth";
    static constexpr const char *kExportFixHeight2Key = "ExportFixHeight2";
    static constexpr const char *kExportFixWidth2Key = "ExportFixWidth2";
    static constexpr const char *kLibraryCheckAtStartupKey = "LibraryCheckAtStartup";
    static constexpr const char *kAspectRatioMenuItemIndexKey = "AspectRatioMenuItemIndex";
    static constexpr const char *kSubscribedToNewsletterKey = "SubscribedToNewsletter";
    static constexpr const char *kIncludeImageInTemplateKey = "IncludeImageInTemplate";
    static constexpr const char *kShowWelcomeWindowKey = "ShowWelcomeWindow";
    static constexpr const char *kExportFilenamePrependTextKey = "ExportFilenamePrependText";
    static constexpr const char *kExportFilenameAppendTextKey = "ExportFilenameAppendText";
    static constexpr const char *kLeftBackgroundColorKey = "LeftBackgroundColor";
    static constexpr const char *kRightBackgroundColorKey = "RightBackgroundColor";
    static constexpr const char *kBackgroundColorSliderPositionKey = "BackgroundColorSliderPosition";
    static constexpr const char *kDesignViewZoomLevelKey = "DesignViewZoomLevel";
};
