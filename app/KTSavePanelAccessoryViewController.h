#pragma once

#include "platform/ThreadPools.h"
#include "platform/ui/SavePanel.h"
#include "platform/ui/ViewController.h"

#include <QPointer>
#include <QSize>
#include <QSizeF>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>

class KTDataFromTemplateOperation;
class KTTemplate;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QSlider;

// The part of the framed image's save panel where the user picks the format,
// the JPEG quality, the size (by rule and unit) and the resolution. It keeps
// the size in the unit and in pixels in step, narrows the panel to the
// format's extensions and estimates the file size by encoding the design in
// the background, one estimate at a time.
class KTSavePanelAccessoryViewController : public platform::ViewController
{
    Q_OBJECT
    Q_PROPERTY(int fileFormatIndex READ fileFormatIndex WRITE setFileFormatIndex NOTIFY fileFormatIndexChanged)
    Q_PROPERTY(int imageSizePopUpIndex READ imageSizePopUpIndex WRITE setImageSizePopUpIndex NOTIFY imageSizePopUpIndexChanged)
    Q_PROPERTY(int unitsPopUpIndex READ unitsPopUpIndex WRITE setUnitsPopUpIndex NOTIFY unitsPopUpIndexChanged)
    Q_PROPERTY(double quality READ quality WRITE setQuality NOTIFY qualityChanged)
    Q_PROPERTY(double dpi READ dpi WRITE setDpi NOTIFY dpiChanged)
    Q_PROPERTY(double width READ width WRITE setWidth NOTIFY widthChanged)
    Q_PROPERTY(double height READ height WRITE setHeight NOTIFY heightChanged)
    Q_PROPERTY(double pixelWidth READ pixelWidth WRITE setPixelWidth NOTIFY pixelWidthChanged)
    Q_PROPERTY(double pixelHeight READ pixelHeight WRITE setPixelHeight NOTIFY pixelHeightChanged)
    Q_PROPERTY(QString fileSize READ fileSize WRITE setFileSize NOTIFY fileSizeChanged)
    Q_PROPERTY(bool showQuality READ showQuality NOTIFY showQualityChanged)
    Q_PROPERTY(bool enableWidthHeight READ enableWidthHeight NOTIFY enableWidthHeightChanged)

public:
    static constexpr const char *kNibName = "KTSavePanelAccessoryView";
    static constexpr const char *kCalculatingText = "Calculating...";
    static constexpr const char *kSkippedText = "Skipped.";
    static constexpr const char *kNoEstimateText = "-";
    // Outputs whose 8 × width × height exceeds this are not estimated.
    static constexpr double kLargestEstimate = 536870912.0;
    // Progress steps smaller than this do not reach the spinner.
    static constexpr double kProgressStep = 2.0;
    static constexpr double kEmptiedSize = 16.0;
    static constexpr double kEmptiedDpi = 72.0;

    enum Unit { Pixels = 0, Inches = 1, Centimetres = 2, Millimetres = 3 };
    enum SizeRule { OriginalSize = 0, CustomProportional = 1, Custom = 2 };

    explicit KTSavePanelAccessoryViewController(QObject *parent = nullptr);
    ~KTSavePanelAccessoryViewController() override;

    int fileFormatIndex() const { return m_fileFormatIndex; }
    void setFileFormatIndex(int index);
    int imageSizePopUpIndex() const { return m_imageSizePopUpIndex; }
    void setImageSizePopUpIndex(int rule);
    int unitsPopUpIndex() const { return m_unitsPopUpIndex; }
    void setUnitsPopUpIndex(int unit);
    double quality() const { return m_quality; }
    void setQuality(double quality);
    double dpi() const { return m_dpi; }
    // A resolution of 0 or less (a photo without one) becomes 72.
    void setDpi(double dpi);
    double width() const { return m_width; }
    void setWidth(double width);
    double height() const { return m_height; }
    void setHeight(double height);
    double pixelWidth() const { return m_pixelWidth; }
    void setPixelWidth(double pixels);
    double pixelHeight() const { return m_pixelHeight; }
    void setPixelHeight(double pixels);
    QString fileSize() const { return m_fileSize; }
    void setFileSize(const QString &text);

    bool showQuality() const;
    bool enableWidthHeight() const { return m_imageSizePopUpIndex != OriginalSize; }
    QStringList formatExtensions() const;
    QString formatUTI() const;
    QSize exportImageSize() const;

    std::shared_ptr<KTTemplate> theTemplate() const { return m_theTemplate; }
    void setTheTemplate(std::shared_ptr<KTTemplate> design) { m_theTemplate = std::move(design); }
    platform::SavePanel *savePanel() const { return m_savePanel.data(); }
    void setSavePanel(platform::SavePanel *panel) { m_savePanel = panel; }

    // The photo's size before framing: the size rule "original" then means
    // the design's framed size of it, rounded to whole pixels.
    void setPreFramedImageSize(const QSizeF &size);
    QSizeF preFramedImageSize() const { return m_preFramedSize; }
    QSizeF sizeBasedOnOriginal() const { return m_sizeBasedOnOriginal; }
    double aspectRatio() const { return m_aspectRatio; }

    // The estimate; these three may be called from any thread.
    void cancelDataOperation();
    void releaseDataOperation();
    bool isDataOperationInProgress() const;

    // The field lost its text: it shows the last valid value again.
    void textFieldEdited(QLineEdit *field);
    // An emptied "width" or "height" becomes 16, an emptied "dpi" 72.
    void setNilValueForKey(const QString &key);
    // Sizes whose whole part is 0 or less become 1.
    static double validatedSize(double value);

    // Rounds down, except that a value within floating-point noise of a
    // whole number is that number (3000 px shown as 25.4 cm gives 3000 back).
    static double floorToPixel(double value);
    static double convertFromPixelsTo(double pixels, int unit, double dpi);
    static double convertToPixelsFrom(double value, int unit, double dpi);

    // The estimate's indicator, as the view shows it.
    bool isProgressSpinnerShown() const { return m_spinnerShown; }
    double progressSpinnerValue() const { return m_spinnerValue; }

    // Controls, for the window and tests; null before the view is loaded.
    QComboBox *formatPopUp() const { return m_formatPopUp; }
    QComboBox *sizeRulePopUp() const { return m_sizeRulePopUp; }
    QComboBox *unitsPopUp() const { return m_unitsPopUp; }
    QLineEdit *widthField() const { return m_widthField; }
    QLineEdit *heightField() const { return m_heightField; }
    QLineEdit *dpiField() const { return m_dpiField; }
    QSlider *qualitySlider() const { return m_qualitySlider; }
    QLabel *sizeInPixelsTextField() const { return m_sizeInPixelsTextField; }
    QLabel *fileSizeLabel() const { return m_fileSizeLabel; }
    QProgressBar *progressSpinner() const { return m_progressSpinner; }

signals:
    void fileFormatIndexChanged();
    void imageSizePopUpIndexChanged();
    void unitsPopUpIndexChanged();
    void qualityChanged();
    void dpiChanged();
    void widthChanged();
    void heightChanged();
    void pixelWidthChanged();
    void pixelHeightChanged();
    void fileSizeChanged();
    void showQualityChanged();
    void enableWidthHeightChanged();
    void progressSpinnerChanged();

protected:
    QWidget *loadView() override;

private:
    struct Estimate;

    void restartDataOperation();
    // Sets the width or height and, while the proportions hold, the other side from it.
    void setSide(double length, bool isWidth);
    void setSpinner(bool shown, double value);
    std::shared_ptr<KTTemplate> designForSizes() const;
    // Field edits: text to value, with the emptied and validation rules.
    void fieldEdited(QLineEdit *field, const QString &key);
    void refreshFields();
    // The size rule "original": the framed photo's whole-pixel size, both
    // sides as the design rounds them (the height is not derived from the width).
    void applySizeBasedOnOriginal();
    void refreshQuality();
    void refreshPixelLabel();
    void refreshEstimate();

    int m_fileFormatIndex = 1;
    int m_imageSizePopUpIndex = 0;
    int m_unitsPopUpIndex = 0;
    double m_quality = 0.9;
    double m_dpi = 72;
    double m_width = 0;
    double m_height = 0;
    double m_pixelWidth = 0;
    double m_pixelHeight = 0;
    QString m_fileSize;
    std::shared_ptr<KTTemplate> m_theTemplate;
    QPointer<platform::SavePanel> m_savePanel;
    QSizeF m_preFramedSize;
    QSizeF m_sizeBasedOnOriginal;
    double m_aspectRatio = 0;
    bool m_spinnerShown = false;
    double m_spinnerValue = 0;

    // The running estimate, shared with its worker.
    mutable std::mutex m_estimateLock;
    std::shared_ptr<Estimate> m_estimate;
    std::shared_ptr<std::atomic<double>> m_lastProgress;
    // One estimate at a time.
    platform::WorkQueue m_queue{platform::Pool::Previews, 1};

    QComboBox *m_formatPopUp = nullptr;
    QComboBox *m_sizeRulePopUp = nullptr;
    QComboBox *m_unitsPopUp = nullptr;
    QLineEdit *m_widthField = nullptr;
    QLineEdit *m_heightField = nullptr;
    QLineEdit *m_dpiField = nullptr;
    QSlider *m_qualitySlider = nullptr;
    QLabel *m_qualityLabel = nullptr;
    QLabel *m_qualityValueLabel = nullptr;
    QLabel *m_sizeInPixelsTextField = nullptr;
    QLabel *m_fileSizeLabel = nullptr;
    QProgressBar *m_progressSpinner = nullptr;
};
