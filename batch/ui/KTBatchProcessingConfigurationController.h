#pragma once

#include "batch/KTBatchProcessingOptions.h"
#include "batch/KTImageFileFormat.h"
#include "batch/KTImageScaling.h"

#include <QList>
#include <QUrl>
#include <QWidget>

#include <memory>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSlider;
class QSpinBox;
class KTBatchProcessingCoordinator;
class KTTemplate;
class KTThumbnailsController;

// The batch window's first page: which photos, which design (a saved one or
// a design file on disk), where the framed copies go, in which format, size
// and quality, and how they are named.
class KTBatchProcessingConfigurationController : public QWidget
{
    Q_OBJECT
public:
    static constexpr const char *kFilesFormat = "You have selected %n file(s) from:";
    static constexpr const char *kMultipleLocations = "(multiple locations)";
    static constexpr const char *kChooseTemplateMessage = "Choose an Kantelo template file";
    static constexpr const char *kTemplateAlertMessage = "Selected template uses frames that are not found in the Library";
    static constexpr const char *kTemplateAlertText = "The result might not be what you expect";
    static constexpr const char *kUnreadableTemplateMessage = "The design file could not be read";
    static constexpr const char *kUnreadableSavedDesignFormat = "The saved design “%1” could not be read";
    static constexpr const char *kFramesNothingMessage = "Selected template can't frame the photos";
    static constexpr const char *kEveryPhotoRefusedText = "Every photo of the batch would be refused.";
    static constexpr const char *kWrapperFailedFormat = "Couldn't create File Wrapper for a template at URL: %1. Error: %2";
    static constexpr const char *kMissingExternalFormat = "Missing external template reference: %1";
    static constexpr const char *kMissingBuiltinFormat =
        "Warning: KTBatchProcessingConfigurationController::loadPreset: Could not find a builtin template named %1";
    static constexpr const char *kWidthInPixelsFormat = "Width in pixels: %1";
    static constexpr const char *kHeightInPixelsFormat = "Height in pixels: %1";
    static constexpr const char *kSizeInPixelsFormat = "Size in pixels: %1 × %2";
    // The folder the framed copies went to last time.
    static constexpr const char *kDestinationKey = "BatchDestinationDirectory";

    // Without a generator the page shows no thumbnails.
    explicit KTBatchProcessingConfigurationController(KTBatchProcessingCoordinator *generator = nullptr,
                                                      QWidget *parent = nullptr);
    KTThumbnailsController *thumbnailsController() const { return m_thumbnails; }

    QList<QUrl> files() const { return m_files; }
    // Adds the pictures among these files and folders; says so when there are none.
    void addItems(const QList<QUrl> &items);
    QUrl destinationDirectory() const;
    void setDestinationDirectory(const QUrl &folder);
    // Keeps the folder for the next batch window.
    void rememberDestination() const;
    // The remembered folder while it exists, else the pictures folder, else home.
    static QString defaultDestinationPath();
    QString selectedDesignName() const;
    KTImageFileFormat selectedFileFormat() const;
    // Settings from a preset; a design the store no longer has keeps the selection.
    void loadPreset(const KTBatchProcessingOptions &options);
    // Without a preset: quality, format and name parts from the export preferences.
    void loadDefaultExportParameters();
    std::shared_ptr<const KTBatchProcessingOptions> currentOptions() const;
    bool configurationIsValid() const;
    QString filenamePreview() const;
    QString selectedFilesSummary() const;
    // Empty when the size is entered in pixels or taken from the photo.
    QString sizeInPixelsSummary() const;
    const KTImageScaling &scaling() const { return *m_scaling; }

    // The design file chosen on disk, if any, and whether it is the one in use.
    std::shared_ptr<KTTemplate> customTemplate() const { return m_customTemplate; }
    QUrl customTemplateURL() const { return m_customTemplateURL; }
    bool useCustomTemplate() const;
    // The design the run applies: the design file or the saved design.
    std::shared_ptr<KTTemplate> currentTemplate() const;

    void addFiles();
    void addFolder();
    void chooseDestination();
    void chooseCustomTemplate();
    void reloadDesigns();

signals:
    void didUpdateOptions();
    void didFinish();

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void refresh();
    void refreshSizeFields();
    void changed();
    void designChanged();
    void setCustomTemplate(const std::shared_ptr<KTTemplate> &design, const QUrl &url);
    // Tells the user what the chosen design will give: no framed photo at
    // all (and why), or frames drawn without the pictures they lack.
    void warnWhenFramesAreMissing();
    void tellWhatTheDesignGives(const KTTemplate &design);

    QList<QUrl> m_files;
    std::shared_ptr<KTImageScaling> m_scaling;
    std::shared_ptr<KTTemplate> m_customTemplate;
    QUrl m_customTemplateURL;
    QByteArray m_customTemplateData;
    bool m_loading = false;
    QLabel *m_summary = nullptr;
    QLabel *m_sourceIcon = nullptr;
    QLabel *m_source = nullptr;
    QListWidget *m_list = nullptr;
    KTThumbnailsController *m_thumbnails = nullptr;
    // Holds the stores the designs are read against.
    KTBatchProcessingCoordinator *m_generator = nullptr;
    KTDesignStores stores() const;
    QComboBox *m_design = nullptr;
    QCheckBox *m_customTemplateCheckbox = nullptr;
    QLabel *m_customTemplateName = nullptr;
    QLineEdit *m_destination = nullptr;
    QComboBox *m_format = nullptr;
    QLabel *m_qualityLabel = nullptr;
    QWidget *m_qualityRow = nullptr;
    QSlider *m_quality = nullptr;
    QLabel *m_qualityValue = nullptr;
    QComboBox *m_scalingType = nullptr;
    QWidget *m_sizeRow = nullptr;
    QDoubleSpinBox *m_width = nullptr;
    QLabel *m_times = nullptr;
    QDoubleSpinBox *m_height = nullptr;
    QComboBox *m_units = nullptr;
    QLabel *m_dpiLabel = nullptr;
    QWidget *m_dpiRow = nullptr;
    QSpinBox *m_dpi = nullptr;
    QLabel *m_pixelsSummary = nullptr;
    QCheckBox *m_usePrefix = nullptr;
    QLineEdit *m_prefix = nullptr;
    QCheckBox *m_useSuffix = nullptr;
    QLineEdit *m_suffix = nullptr;
    QLabel *m_preview = nullptr;
    QPushButton *m_start = nullptr;
};
