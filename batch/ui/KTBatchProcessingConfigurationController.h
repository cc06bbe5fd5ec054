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
class KTBatchProcessingCoordinator;
class KTThumbnailsController;

// The batch window's first page: which photos, which saved design, where the
// framed copies go, in which format, size and quality, and how they are named.
class KTBatchProcessingConfigurationController : public QWidget
{
    Q_OBJECT
public:
    static constexpr const char *kOneFileFormat = "You have selected %1 file from:";
    static constexpr const char *kFilesFormat = "You have selected %1 files from:";
    static constexpr const char *kMultipleLocations = "(multiple locations)";

    // Without a generator the page shows no thumbnails.
    explicit KTBatchProcessingConfigurationController(KTBatchProcessingCoordinator *generator = nullptr,
                                                      QWidget *parent = nullptr);
    KTThumbnailsController *thumbnailsController() const { return m_thumbnails; }

    QList<QUrl> files() const { return m_files; }
    // Adds the pictures among these files and folders; says so when there are none.
    void addItems(const QList<QUrl> &items);
    QUrl destinationDirectory() const;
    void setDestinationDirectory(const QUrl &folder);
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

    void addFiles();
    void addFolder();
    void chooseDestination();
    void reloadDesigns();

signals:
    void didUpdateOptions();
    void didFinish();

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void refresh();
    void changed();
    void designChanged();

    QList<QUrl> m_files;
    std::shared_ptr<KTImageScaling> m_scaling;
    bool m_loading = false;
    QLabel *m_summary = nullptr;
    QLabel *m_source = nullptr;
    QListWidget *m_list = nullptr;
    KTThumbnailsController *m_thumbnails = nullptr;
    QComboBox *m_design = nullptr;
    QLineEdit *m_destination = nullptr;
    QComboBox *m_format = nullptr;
    QComboBox *m_scalingType = nullptr;
    QDoubleSpinBox *m_width = nullptr;
    QDoubleSpinBox *m_height = nullptr;
    QLabel *m_qualityLabel = nullptr;
    QSlider *m_quality = nullptr;
    QCheckBox *m_usePrefix = nullptr;
    QLineEdit *m_prefix = nullptr;
    QCheckBox *m_useSuffix = nullptr;
    QLineEdit *m_suffix = nullptr;
    QLabel *m_preview = nullptr;
    QPushButton *m_start = nullptr;
};
