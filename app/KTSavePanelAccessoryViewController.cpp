#include "app/KTSavePanelAccessoryViewController.h"

#include "design/KTTemplateRenderer.h"

#include "app/KTDesignDocumentInterface.h"
#include "design/KTDataFromTemplateOperation.h"
#include "design/KTTemplate.h"
#include "kit/VLValueAdditions.h"
#include "platform/codec/ExportFormat.h"
#include "platform/imaging/ImageProperties.h"
#include "platform/ui/SavePanel.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QSlider>

#include <cmath>

using platform::ExportFormat;

struct KTSavePanelAccessoryViewController::Estimate {
    std::shared_ptr<KTDataFromTemplateOperation> operation;
    std::atomic<bool> finished{false};
    std::atomic<bool> reported{false};
};

namespace {

const char *const kSizeRuleNames[] = {"Original Size", "Custom Proportional", "Custom"};
const char *const kUnitNames[] = {"pixels", "inches", "cm", "mm"};

// Numbers as the fields show them: whole pixels, at most three decimals.
QString formatNumber(double value)
{
    return NSNumberVLExtras::shortDecimalString(value, 3);
}

std::optional<double> parseNumber(QString text)
{
    text = text.trimmed();
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

KTSavePanelAccessoryViewController::KTSavePanelAccessoryViewController(QObject *parent)
    : platform::ViewController(QString::fromLatin1(kNibName), parent)
    , m_lastProgress(std::make_shared<std::atomic<double>>(0.0))
{
}

KTSavePanelAccessoryViewController::~KTSavePanelAccessoryViewController()
{
    cancelDataOperation();
    // The worker may still post to this object: wait for it before going.
    m_queue.waitForDone();
}

// --- conversions ---

double KTSavePanelAccessoryViewController::floorToPixel(double value)
{
    if (!std::isfinite(value))
        return 0;
    const double nearest = std::round(value);
    if (std::fabs(value - nearest) <= 1e-9 * std::max(1.0, std::fabs(value)))
        return nearest;
    return std::floor(value);
}

double KTSavePanelAccessoryViewController::convertFromPixelsTo(double pixels, int unit, double dpi)
{
    switch (unit) {
    case Inches:
        return pixels / dpi;
    case Centimetres:
        return pixels / dpi * 2.54;
    case Millimetres:
        return pixels / dpi * 25.4;
    default:
        return pixels;
    }
}

double KTSavePanelAccessoryViewController::convertToPixelsFrom(double value, int unit, double dpi)
{
    switch (unit) {
    case Inches:
        return floorToPixel(value * dpi);
    case Centimetres:
        return floorToPixel(value * dpi / 2.54);
    case Millimetres:
        return floorToPixel(value * dpi / 25.4);
    default:
        return floorToPixel(value);
    }
}

double KTSavePanelAccessoryViewController::validatedSize(double value)
{
    if (!std::isfinite(value) || static_cast<long long>(value) <= 0)
        return 1;
    return value;
}

// --- derived values ---

QStringList KTSavePanelAccessoryViewController::formatExtensions() const
{
    return ExportFormat::forSavedIndex(m_fileFormatIndex).extensions;
}

QString KTSavePanelAccessoryViewController::formatUTI() const
{
    return ExportFormat::forSavedIndex(m_fileFormatIndex).type;
}

bool KTSavePanelAccessoryViewController::showQuality() const
{
    return ExportFormat::isSavedIndex(m_fileFormatIndex) && ExportFormat::forSavedIndex(m_fileFormatIndex).hasQuality;
}

QSize KTSavePanelAccessoryViewController::exportImageSize() const
{
    auto whole = [](double v) { return std::isfinite(v) && v > 0 && v < 2e9 ? int(std::floor(v)) : 0; };
    return QSize(whole(m_pixelWidth), whole(m_pixelHeight));
}

std::shared_ptr<KTTemplate> KTSavePanelAccessoryViewController::designForSizes() const
{
    if (auto *document = KTDesignDocumentInterface::fromObject(representedObject().value<QObject *>()))
        return document->docTemplate();
    return m_theTemplate;
}

// --- setters that keep the sizes in step ---

void KTSavePanelAccessoryViewController::setWidth(double width)
{
    setSide(width, true);
}

void KTSavePanelAccessoryViewController::setHeight(double height)
{
    setSide(height, false);
}

void KTSavePanelAccessoryViewController::setSide(double length, bool isWidth)
{
    double &side = isWidth ? m_width : m_height;
    double &pixelSide = isWidth ? m_pixelWidth : m_pixelHeight;
    side = length;
    pixelSide = convertToPixelsFrom(length, m_unitsPopUpIndex, m_dpi);
    const bool proportional = m_imageSizePopUpIndex != Custom && m_aspectRatio > 0 && std::isfinite(m_aspectRatio);
    if (proportional) {
        double other = isWidth ? length / m_aspectRatio : length * m_aspectRatio;
        if (m_unitsPopUpIndex == Pixels)
            other = floorToPixel(other);
        (isWidth ? m_height : m_width) = other;
        (isWidth ? m_pixelHeight : m_pixelWidth) = convertToPixelsFrom(other, m_unitsPopUpIndex, m_dpi);
    }
    auto announce = [this](bool width) {
        if (width) {
            emit widthChanged();
            emit pixelWidthChanged();
        } else {
            emit heightChanged();
            emit pixelHeightChanged();
        }
    };
    // The side set first, then the one that followed it.
    announce(isWidth);
    if (proportional)
        announce(!isWidth);
    restartDataOperation();
}

void KTSavePanelAccessoryViewController::setPixelWidth(double pixels)
{
    m_pixelWidth = floorToPixel(pixels);
    setWidth(convertFromPixelsTo(m_pixelWidth, m_unitsPopUpIndex, m_dpi));
}

void KTSavePanelAccessoryViewController::setPixelHeight(double pixels)
{
    m_pixelHeight = floorToPixel(pixels);
    setHeight(convertFromPixelsTo(m_pixelHeight, m_unitsPopUpIndex, m_dpi));
}

void KTSavePanelAccessoryViewController::setUnitsPopUpIndex(int unit)
{
    m_unitsPopUpIndex = unit;
    emit unitsPopUpIndexChanged();
    // The pixel size survives a change of unit.
    const double pixelHeight = m_pixelHeight;
    setWidth(convertFromPixelsTo(m_pixelWidth, unit, m_dpi));
    if (m_imageSizePopUpIndex == Custom)
        setHeight(convertFromPixelsTo(pixelHeight, unit, m_dpi));
    else if (m_imageSizePopUpIndex == OriginalSize && pixelHeight == m_sizeBasedOnOriginal.height())
        applySizeBasedOnOriginal();
}

void KTSavePanelAccessoryViewController::setDpi(double dpi)
{
    // A photo without a resolution reads 0; every conversion divides by it.
    if (!std::isfinite(dpi) || dpi <= 0)
        dpi = kEmptiedDpi;
    m_dpi = dpi;
    if (const auto design = designForSizes()) {
        design->setMetadataValue(dpi, QString::fromLatin1(platform::ImageProperty::kDPIWidth));
        design->setMetadataValue(dpi, QString::fromLatin1(platform::ImageProperty::kDPIHeight));
    }
    emit dpiChanged();
    if (m_unitsPopUpIndex == Pixels)
        return;
    // The physical size stays; the pixels follow.
    const double height = m_height;
    setPixelWidth(convertToPixelsFrom(m_width, m_unitsPopUpIndex, m_dpi));
    if (m_imageSizePopUpIndex == Custom)
        setPixelHeight(convertToPixelsFrom(height, m_unitsPopUpIndex, m_dpi));
}

void KTSavePanelAccessoryViewController::setImageSizePopUpIndex(int rule)
{
    m_imageSizePopUpIndex = rule;
    emit imageSizePopUpIndexChanged();
    emit enableWidthHeightChanged();
    if (rule == OriginalSize)
        applySizeBasedOnOriginal();
}

void KTSavePanelAccessoryViewController::setFileFormatIndex(int index)
{
    m_fileFormatIndex = index;
    emit fileFormatIndexChanged();
    emit showQualityChanged();
    if (m_savePanel)
        m_savePanel->setAllowedFileTypes(formatExtensions());
    restartDataOperation();
}

void KTSavePanelAccessoryViewController::setQuality(double quality)
{
    m_quality = quality;
    if (const auto design = designForSizes())
        design->setExportQuality(quality);
    emit qualityChanged();
    restartDataOperation();
}

void KTSavePanelAccessoryViewController::setFileSize(const QString &text)
{
    if (m_fileSize == text)
        return;
    m_fileSize = text;
    emit fileSizeChanged();
}

void KTSavePanelAccessoryViewController::setPreFramedImageSize(const QSizeF &size)
{
    m_preFramedSize = size;
    QRectF framed;
    if (const auto design = designForSizes())
        framed = design->finalRectFromStartRect(QRectF(QPointF(0, 0), size), true);
    m_sizeBasedOnOriginal = QSizeF(KTTemplateRenderer::wholePixelSize(framed.size()));
    m_aspectRatio = framed.height() != 0 ? framed.width() / framed.height() : 0;
    applySizeBasedOnOriginal();
}

void KTSavePanelAccessoryViewController::applySizeBasedOnOriginal()
{
    setPixelWidth(m_sizeBasedOnOriginal.width());
    if (m_imageSizePopUpIndex != OriginalSize || m_pixelHeight == m_sizeBasedOnOriginal.height())
        return;
    m_pixelHeight = m_sizeBasedOnOriginal.height();
    m_height = convertFromPixelsTo(m_pixelHeight, m_unitsPopUpIndex, m_dpi);
    emit heightChanged();
    emit pixelHeightChanged();
    restartDataOperation();
}

void KTSavePanelAccessoryViewController::setNilValueForKey(const QString &key)
{
    if (key == QLatin1String("width"))
        setWidth(kEmptiedSize);
    else if (key == QLatin1String("height"))
        setHeight(kEmptiedSize);
    else if (key == QLatin1String("dpi"))
        setDpi(kEmptiedDpi);
}

void KTSavePanelAccessoryViewController::textFieldEdited(QLineEdit *field)
{
    if (field && field->text().trimmed().isEmpty())
        refreshFields();
}

// --- the estimate ---

void KTSavePanelAccessoryViewController::cancelDataOperation()
{
    std::lock_guard lock(m_estimateLock);
    if (m_estimate && m_estimate->operation)
        m_estimate->operation->cancel();
}

void KTSavePanelAccessoryViewController::releaseDataOperation()
{
    std::lock_guard lock(m_estimateLock);
    m_estimate.reset();
}

bool KTSavePanelAccessoryViewController::isDataOperationInProgress() const
{
    std::lock_guard lock(m_estimateLock);
    return m_estimate && !m_estimate->finished.load();
}

void KTSavePanelAccessoryViewController::setSpinner(bool shown, double value)
{
    m_spinnerShown = shown;
    m_spinnerValue = value;
    if (m_progressSpinner) {
        m_progressSpinner->setVisible(shown);
        m_progressSpinner->setValue(int(std::lround(value)));
    }
    emit progressSpinnerChanged();
}

void KTSavePanelAccessoryViewController::restartDataOperation()
{
    cancelDataOperation();
    releaseDataOperation();

    setSpinner(true, 0);
    setFileSize(QString::fromLatin1(kCalculatingText));
    auto lastProgress = std::make_shared<std::atomic<double>>(0.0);
    m_lastProgress = lastProgress;

    const QSize size = exportImageSize();
    if (8.0 * double(size.width()) * double(size.height()) > kLargestEstimate) {
        setFileSize(QString::fromLatin1(kSkippedText));
        setSpinner(false, 0);
        return;
    }
    const std::shared_ptr<KTTemplate> design = m_theTemplate;
    if (!design || size.width() < KTDataFromTemplateOperation::kMinimumSide
        || size.height() < KTDataFromTemplateOperation::kMinimumSide) {
        // Nothing worth encoding: no number to show.
        setFileSize(QString::fromLatin1(kNoEstimateText));
        setSpinner(false, 0);
        return;
    }

    auto estimate = std::make_shared<Estimate>();
    std::weak_ptr<Estimate> weak = estimate;
    auto isCurrent = [this, weak] {
        const auto alive = weak.lock();
        std::lock_guard lock(m_estimateLock);
        return alive && alive == m_estimate;
    };
    auto progress = [this, lastProgress, isCurrent](KTTemplate *, double percent) {
        // Small steps would flood the main thread.
        if (percent <= lastProgress->load() + kProgressStep)
            return;
        lastProgress->store(percent);
        QMetaObject::invokeMethod(
            this, [this, percent, isCurrent] {
                if (isCurrent())
                    setSpinner(true, percent);
            },
            Qt::QueuedConnection);
    };
    auto finished = [this, weak, isCurrent](KTDataFromTemplateOperation *operation) {
        const std::optional<QByteArray> data = operation->imageData();
        const QString text = data ? NSStringVLAdditions::stringFromFileSize(quint64(data->size()))
                                  : QString::fromLatin1(kNoEstimateText);
        if (const auto alive = weak.lock())
            alive->reported = true;
        QMetaObject::invokeMethod(
            this, [this, text, isCurrent] {
                if (!isCurrent())
                    return;
                setFileSize(text);
                setSpinner(false, m_spinnerValue);
            },
            Qt::QueuedConnection);
    };
    estimate->operation = std::make_shared<KTDataFromTemplateOperation>(
        design, formatUTI(), QSizeF(size), [](KTTemplate *) { return false; }, progress, finished);
    {
        std::lock_guard lock(m_estimateLock);
        m_estimate = estimate;
    }
    m_queue.start([this, estimate, isCurrent] {
        estimate->operation->main();
        const bool silent = !estimate->reported.load() && !estimate->operation->isCancelled();
        estimate->finished = true;
        if (silent) {
            // An operation that gave up without a word still ends the wait.
            QMetaObject::invokeMethod(
                this, [this, isCurrent] {
                    if (!isCurrent())
                        return;
                    setFileSize(QString::fromLatin1(kNoEstimateText));
                    setSpinner(false, 0);
                },
                Qt::QueuedConnection);
        }
    });
}

// --- the view ---

QWidget *KTSavePanelAccessoryViewController::loadView()
{
    auto *view = new QWidget;
    view->setObjectName(QString::fromLatin1(kNibName));
    auto *grid = new QGridLayout(view);
    grid->setContentsMargins(12, 8, 12, 8);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(6);

    auto label = [view](const QString &text) {
        auto *l = new QLabel(text, view);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return l;
    };
    auto numberField = [view](const char *name) {
        auto *field = new QLineEdit(view);
        field->setObjectName(QString::fromLatin1(name));
        field->setAlignment(Qt::AlignRight);
        field->setMaximumWidth(90);
        return field;
    };

    m_formatPopUp = new QComboBox(view);
    m_formatPopUp->setObjectName(QStringLiteral("formatPopUp"));
    for (const ExportFormat &format : ExportFormat::all())
        m_formatPopUp->addItem(format.name);
    m_qualityLabel = label(QStringLiteral("Quality:"));
    m_qualitySlider = new QSlider(Qt::Horizontal, view);
    m_qualitySlider->setObjectName(QStringLiteral("qualitySlider"));
    m_qualitySlider->setRange(0, 100);
    m_qualitySlider->setMinimumWidth(140);
    m_qualityValueLabel = new QLabel(view);
    m_qualityValueLabel->setMinimumWidth(36);

    m_sizeRulePopUp = new QComboBox(view);
    m_sizeRulePopUp->setObjectName(QStringLiteral("sizeRulePopUp"));
    for (const char *name : kSizeRuleNames)
        m_sizeRulePopUp->addItem(QString::fromLatin1(name));
    m_unitsPopUp = new QComboBox(view);
    m_unitsPopUp->setObjectName(QStringLiteral("unitsPopUp"));
    for (const char *name : kUnitNames)
        m_unitsPopUp->addItem(QString::fromLatin1(name));

    m_widthField = numberField("widthField");
    m_heightField = numberField("heightField");
    m_dpiField = numberField("dpiField");
    m_sizeInPixelsTextField = new QLabel(view);
    m_sizeInPixelsTextField->setObjectName(QStringLiteral("sizeInPixelsTextField"));
    m_fileSizeLabel = new QLabel(view);
    m_fileSizeLabel->setObjectName(QStringLiteral("fileSizeLabel"));
    m_fileSizeLabel->setMinimumWidth(90);
    m_progressSpinner = new QProgressBar(view);
    m_progressSpinner->setObjectName(QStringLiteral("progressSpinner"));
    m_progressSpinner->setRange(0, 100);
    m_progressSpinner->setTextVisible(false);
    m_progressSpinner->setFixedSize(80, 10);

    // Row 0: format and quality.
    grid->addWidget(label(QStringLiteral("Format:")), 0, 0);
    grid->addWidget(m_formatPopUp, 0, 1);
    auto *qualityRow = new QHBoxLayout;
    qualityRow->addWidget(m_qualityLabel);
    qualityRow->addWidget(m_qualitySlider, 1);
    qualityRow->addWidget(m_qualityValueLabel);
    grid->addLayout(qualityRow, 0, 2, 1, 3);
    // Row 1: size rule and unit.
    grid->addWidget(label(QStringLiteral("Size:")), 1, 0);
    grid->addWidget(m_sizeRulePopUp, 1, 1);
    grid->addWidget(label(QStringLiteral("Units:")), 1, 2);
    grid->addWidget(m_unitsPopUp, 1, 3);
    // Row 2: width and height.
    grid->addWidget(label(QStringLiteral("Width:")), 2, 0);
    grid->addWidget(m_widthField, 2, 1, Qt::AlignLeft);
    grid->addWidget(label(QStringLiteral("Height:")), 2, 2);
    grid->addWidget(m_heightField, 2, 3, Qt::AlignLeft);
    // Row 3: resolution and the size in pixels.
    grid->addWidget(label(QStringLiteral("Resolution:")), 3, 0);
    auto *dpiRow = new QHBoxLayout;
    dpiRow->addWidget(m_dpiField);
    dpiRow->addWidget(new QLabel(QStringLiteral("dpi"), view));
    dpiRow->addStretch(1);
    grid->addLayout(dpiRow, 3, 1);
    grid->addWidget(m_sizeInPixelsTextField, 3, 2, 1, 3);
    // Row 4: the estimate.
    grid->addWidget(label(QStringLiteral("File size:")), 4, 0);
    auto *estimateRow = new QHBoxLayout;
    estimateRow->addWidget(m_fileSizeLabel);
    estimateRow->addWidget(m_progressSpinner);
    estimateRow->addStretch(1);
    grid->addLayout(estimateRow, 4, 1, 1, 4);
    grid->setColumnStretch(4, 1);

    // The user's choices go to the fields...
    connect(m_formatPopUp, &QComboBox::activated, this, [this](int index) {
        if (index != m_fileFormatIndex)
            setFileFormatIndex(index);
    });
    connect(m_sizeRulePopUp, &QComboBox::activated, this, [this](int index) {
        if (index != m_imageSizePopUpIndex)
            setImageSizePopUpIndex(index);
    });
    connect(m_unitsPopUp, &QComboBox::activated, this, [this](int index) {
        if (index != m_unitsPopUpIndex)
            setUnitsPopUpIndex(index);
    });
    auto qualityEdited = [this] {
        const double q = m_qualitySlider->value() / 100.0;
        if (std::fabs(q - m_quality) > 1e-9)
            setQuality(q);
    };
    connect(m_qualitySlider, &QSlider::valueChanged, this, [this, qualityEdited] {
        m_qualityValueLabel->setText(QStringLiteral("%1%").arg(m_qualitySlider->value()));
        // A drag encodes once, when it ends.
        if (!m_qualitySlider->isSliderDown())
            qualityEdited();
    });
    connect(m_qualitySlider, &QSlider::sliderReleased, this, qualityEdited);
    connect(m_widthField, &QLineEdit::editingFinished, this, [this] { fieldEdited(m_widthField, QStringLiteral("width")); });
    connect(m_heightField, &QLineEdit::editingFinished, this, [this] { fieldEdited(m_heightField, QStringLiteral("height")); });
    connect(m_dpiField, &QLineEdit::editingFinished, this, [this] { fieldEdited(m_dpiField, QStringLiteral("dpi")); });

    // ...and the fields' changes to the controls.
    connect(this, &KTSavePanelAccessoryViewController::fileFormatIndexChanged, view, [this] {
        const QSignalBlocker blocker(m_formatPopUp);
        m_formatPopUp->setCurrentIndex(ExportFormat::forSavedIndex(m_fileFormatIndex).savedIndex);
    });
    connect(this, &KTSavePanelAccessoryViewController::imageSizePopUpIndexChanged, view, [this] {
        const QSignalBlocker blocker(m_sizeRulePopUp);
        m_sizeRulePopUp->setCurrentIndex(m_imageSizePopUpIndex);
    });
    connect(this, &KTSavePanelAccessoryViewController::unitsPopUpIndexChanged, view, [this] {
        const QSignalBlocker blocker(m_unitsPopUp);
        m_unitsPopUp->setCurrentIndex(m_unitsPopUpIndex);
    });
    connect(this, &KTSavePanelAccessoryViewController::showQualityChanged, view, [this] { refreshQuality(); });
    connect(this, &KTSavePanelAccessoryViewController::qualityChanged, view, [this] { refreshQuality(); });
    connect(this, &KTSavePanelAccessoryViewController::enableWidthHeightChanged, view, [this] { refreshFields(); });
    for (auto signal : {&KTSavePanelAccessoryViewController::widthChanged, &KTSavePanelAccessoryViewController::heightChanged,
                        &KTSavePanelAccessoryViewController::dpiChanged})
        connect(this, signal, view, [this] { refreshFields(); });
    for (auto signal : {&KTSavePanelAccessoryViewController::pixelWidthChanged,
                        &KTSavePanelAccessoryViewController::pixelHeightChanged})
        connect(this, signal, view, [this] { refreshPixelLabel(); });
    connect(this, &KTSavePanelAccessoryViewController::fileSizeChanged, view, [this] { refreshEstimate(); });

    m_formatPopUp->setCurrentIndex(ExportFormat::forSavedIndex(m_fileFormatIndex).savedIndex);
    m_sizeRulePopUp->setCurrentIndex(m_imageSizePopUpIndex);
    m_unitsPopUp->setCurrentIndex(m_unitsPopUpIndex);
    refreshQuality();
    refreshFields();
    refreshPixelLabel();
    refreshEstimate();
    setSpinner(m_spinnerShown, m_spinnerValue);
    return view;
}

void KTSavePanelAccessoryViewController::fieldEdited(QLineEdit *field, const QString &key)
{
    const QString text = field->text();
    if (text.trimmed().isEmpty()) {
        setNilValueForKey(key);
        textFieldEdited(field);
        return;
    }
    const std::optional<double> value = parseNumber(text);
    if (!value) {
        refreshFields(); // not a number: the last valid one comes back
        return;
    }
    if (key == QLatin1String("width")) {
        if (*value != m_width)
            setWidth(validatedSize(*value));
    } else if (key == QLatin1String("height")) {
        if (*value != m_height)
            setHeight(validatedSize(*value));
    } else if (*value != m_dpi) {
        setDpi(*value);
    }
    refreshFields();
}

void KTSavePanelAccessoryViewController::refreshFields()
{
    if (!m_widthField)
        return;
    m_widthField->setText(formatNumber(m_width));
    m_heightField->setText(formatNumber(m_height));
    m_dpiField->setText(formatNumber(m_dpi));
    m_widthField->setEnabled(enableWidthHeight());
    m_heightField->setEnabled(enableWidthHeight());
}

void KTSavePanelAccessoryViewController::refreshQuality()
{
    if (!m_qualitySlider)
        return;
    {
        const QSignalBlocker blocker(m_qualitySlider);
        m_qualitySlider->setValue(int(std::lround(m_quality * 100.0)));
    }
    m_qualityValueLabel->setText(QStringLiteral("%1%").arg(m_qualitySlider->value()));
    const bool shown = showQuality();
    m_qualityLabel->setVisible(shown);
    m_qualitySlider->setVisible(shown);
    m_qualityValueLabel->setVisible(shown);
}

void KTSavePanelAccessoryViewController::refreshPixelLabel()
{
    if (!m_sizeInPixelsTextField)
        return;
    const QSize size = exportImageSize();
    m_sizeInPixelsTextField->setText(QStringLiteral("%1 × %2 pixels").arg(size.width()).arg(size.height()));
}

void KTSavePanelAccessoryViewController::refreshEstimate()
{
    if (m_fileSizeLabel)
        m_fileSizeLabel->setText(m_fileSize);
}
