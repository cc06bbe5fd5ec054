#include "batch/ui/KTBatchProcessingConfigurationController.h"

#include "design/KTExportQuality.h"
#include "design/KTPreferenceKeys.h"
#include "batch/KTBatchProcessingCoordinator.h"
#include "batch/KTFilenameFormatter.h"
#include "batch/KTImageProcessor.h"
#include "design/KTTemplate.h"
#include "design/Variation.h"
#include "platform/Alert.h"
#include "platform/Log.h"
#include "platform/TypeTable.h"
#include "platform/UserDefaults.h"
#include "batch/ui/KTThumbnailsController.h"
#include "platform/ui/FilePanels.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTimer>
#include <QToolButton>
#include <QValidator>
#include <QVBoxLayout>

#include <cmath>

namespace {

// Refuses a keystroke that would put a folder separator into the name.
class FilenameValidator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString &input, int &) const override
    {
        return KTFilenameFormatter::isPartialStringValid(input) ? Acceptable : Invalid;
    }
};

// A titled part of the page that folds away with a click on its title.
QWidget *addSection(QWidget *page, QVBoxLayout *layout, const QString &title, const char *name)
{
    auto *toggle = new QToolButton(page);
    toggle->setObjectName(QLatin1String(name) + QStringLiteral("Toggle"));
    toggle->setText(title);
    toggle->setCheckable(true);
    toggle->setChecked(true);
    toggle->setAutoRaise(true);
    toggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toggle->setArrowType(Qt::DownArrow);
    QFont bold = toggle->font();
    bold.setBold(true);
    toggle->setFont(bold);
    auto *content = new QWidget(page);
    content->setObjectName(QLatin1String(name));
    QObject::connect(toggle, &QToolButton::toggled, content, [toggle, content](bool open) {
        content->setVisible(open);
        toggle->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    });
    layout->addWidget(toggle);
    layout->addWidget(content);
    return content;
}

QFormLayout *formIn(QWidget *content)
{
    auto *form = new QFormLayout(content);
    form->setContentsMargins(18, 0, 0, 6);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    return form;
}

QWidget *rowOf(QWidget *parent, std::initializer_list<QWidget *> widgets, bool stretch = true)
{
    auto *row = new QWidget(parent);
    auto *box = new QHBoxLayout(row);
    box->setContentsMargins(0, 0, 0, 0);
    for (QWidget *widget : widgets)
        box->addWidget(widget);
    if (stretch)
        box->addStretch();
    return row;
}

} // namespace

KTBatchProcessingConfigurationController::KTBatchProcessingConfigurationController(
    KTBatchProcessingCoordinator *generator, QWidget *parent)
    : QWidget(parent), m_scaling(KTImageScaling::defaultScaling())
{
    m_generator = generator;
    setObjectName(QStringLiteral("batchConfigurationPage"));
    setAcceptDrops(true);
    auto *layout = new QVBoxLayout(this);

    // --- the photos ---
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("selectedFilesSummary"));
    m_sourceIcon = new QLabel(this);
    m_source = new QLabel(this);
    m_source->setObjectName(QStringLiteral("selectedFilesSource"));
    m_source->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_source->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(m_summary);
    auto *sourceRow = new QHBoxLayout;
    sourceRow->addWidget(m_sourceIcon);
    sourceRow->addWidget(m_source, 1);
    layout->addLayout(sourceRow);
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("inputList"));
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setMinimumHeight(90);
    layout->addWidget(m_list, 1);
    auto *adding = new QHBoxLayout;
    auto *addFiles = new QPushButton(tr("Add Files…"), this);
    addFiles->setObjectName(QStringLiteral("addFilesButton"));
    auto *addFolder = new QPushButton(tr("Add Folder…"), this);
    addFolder->setObjectName(QStringLiteral("addFolderButton"));
    auto *remove = new QPushButton(tr("Remove"), this);
    remove->setObjectName(QStringLiteral("removeFilesButton"));
    remove->setToolTip(tr("Leaves the selected photos out of the batch"));
    adding->addWidget(addFiles);
    adding->addWidget(addFolder);
    adding->addStretch();
    adding->addWidget(remove);
    layout->addLayout(adding);
    connect(addFiles, &QPushButton::clicked, this, &KTBatchProcessingConfigurationController::addFiles);
    connect(addFolder, &QPushButton::clicked, this, &KTBatchProcessingConfigurationController::addFolder);
    remove->setEnabled(false);
    connect(m_list, &QListWidget::itemSelectionChanged, remove,
            [this, remove] { remove->setEnabled(!m_list->selectedItems().isEmpty()); });
    connect(remove, &QPushButton::clicked, this, [this] {
        QList<QUrl> kept;
        for (int i = 0; i < m_list->count(); ++i) {
            if (!m_list->item(i)->isSelected())
                kept << m_files.value(i);
        }
        m_files = kept;
        refresh();
        changed();
    });

    // --- design, destination, format and size ---
    QWidget *options = addSection(this, layout, tr("Options"), "optionsGroupView");
    QFormLayout *form = formIn(options);
    m_design = new QComboBox(options);
    m_design->setObjectName(QStringLiteral("designChooser"));
    form->addRow(tr("Design:"), m_design);
    m_customTemplateCheckbox = new QCheckBox(tr("Design file:"), options);
    m_customTemplateCheckbox->setObjectName(QStringLiteral("customTemplateCheckbox"));
    m_customTemplateName = new QLabel(tr("none chosen"), options);
    m_customTemplateName->setObjectName(QStringLiteral("customTemplateName"));
    m_customTemplateName->setEnabled(false);
    auto *chooseCustom = new QPushButton(tr("Choose…"), options);
    chooseCustom->setObjectName(QStringLiteral("chooseCustomTemplateButton"));
    chooseCustom->setToolTip(tr("Use a design saved as a file instead of one of your saved designs"));
    form->addRow(m_customTemplateCheckbox, rowOf(options, {m_customTemplateName, chooseCustom}));
    connect(chooseCustom, &QPushButton::clicked, this, &KTBatchProcessingConfigurationController::chooseCustomTemplate);

    m_destination = new QLineEdit(options);
    m_destination->setObjectName(QStringLiteral("destinationField"));
    auto *chooseDestination = new QPushButton(tr("Choose…"), options);
    chooseDestination->setObjectName(QStringLiteral("chooseDestinationButton"));
    auto *destinationRow = new QWidget(options);
    auto *destinationBox = new QHBoxLayout(destinationRow);
    destinationBox->setContentsMargins(0, 0, 0, 0);
    destinationBox->addWidget(m_destination, 1);
    destinationBox->addWidget(chooseDestination);
    form->addRow(tr("Save to:"), destinationRow);
    connect(chooseDestination, &QPushButton::clicked, this, &KTBatchProcessingConfigurationController::chooseDestination);

    m_format = new QComboBox(options);
    m_format->setObjectName(QStringLiteral("formatChooser"));
    for (const KTImageFileFormat &format : KTImageFileFormat::allFormats())
        m_format->addItem(format.name());
    form->addRow(tr("Format:"), rowOf(options, {m_format}));
    m_qualityLabel = new QLabel(tr("Quality:"), options);
    m_quality = new QSlider(Qt::Horizontal, options);
    m_quality->setObjectName(QStringLiteral("qualitySlider"));
    m_quality->setRange(0, 100);
    m_qualityValue = new QLabel(options);
    m_qualityValue->setMinimumWidth(m_qualityValue->fontMetrics().horizontalAdvance(QStringLiteral("100 %")));
    m_qualityRow = rowOf(options, {m_quality, m_qualityValue}, false);
    form->addRow(m_qualityLabel, m_qualityRow);

    m_scalingType = new QComboBox(options);
    m_scalingType->setObjectName(QStringLiteral("scalingChooser"));
    for (qint64 type = KTImageScalingTypeOriginal; type <= KTImageScalingTypeFixInSize; ++type)
        m_scalingType->addItem(KTImageScaling::titleForType(type));
    form->addRow(tr("Size:"), rowOf(options, {m_scalingType}));
    m_width = new QDoubleSpinBox(options);
    m_width->setObjectName(QStringLiteral("widthField"));
    m_width->setToolTip(tr("Width"));
    m_times = new QLabel(QStringLiteral("×"), options);
    m_height = new QDoubleSpinBox(options);
    m_height->setObjectName(QStringLiteral("heightField"));
    m_height->setToolTip(tr("Height"));
    m_units = new QComboBox(options);
    m_units->setObjectName(QStringLiteral("unitsChooser"));
    for (quint64 units = KTImageUnitsPixels; units <= KTImageUnitsMillimeters; ++units)
        m_units->addItem(KTImageScaling::titleForUnits(units));
    for (QDoubleSpinBox *box : {m_width, m_height}) {
        box->setKeyboardTracking(false);
        box->setMinimumWidth(box->fontMetrics().horizontalAdvance(QStringLiteral("000000.00")) + 24);
    }
    m_sizeRow = rowOf(options, {m_width, m_times, m_height, m_units});
    form->addRow(QString(), m_sizeRow);
    m_dpiLabel = new QLabel(tr("Resolution:"), options);
    m_dpi = new QSpinBox(options);
    m_dpi->setObjectName(QStringLiteral("dpiField"));
    m_dpi->setRange(int(KTImageScaling::kMinimumDpi), 100000);
    m_dpi->setSuffix(tr(" dpi"));
    m_dpi->setKeyboardTracking(false);
    m_pixelsSummary = new QLabel(options);
    m_pixelsSummary->setObjectName(QStringLiteral("sizeInPixelsSummary"));
    m_dpiRow = rowOf(options, {m_dpi, m_pixelsSummary});
    form->addRow(m_dpiLabel, m_dpiRow);

    // --- file names ---
    QWidget *names = addSection(this, layout, tr("File Names"), "filenameGroupView");
    QFormLayout *namesForm = formIn(names);
    auto nameRow = [&](QCheckBox *&check, QLineEdit *&field, const QString &title, const char *name) {
        check = new QCheckBox(title, names);
        field = new QLineEdit(names);
        field->setObjectName(QLatin1String(name));
        field->setValidator(new FilenameValidator(field));
        namesForm->addRow(check, field);
    };
    nameRow(m_usePrefix, m_prefix, tr("Prefix:"), "prefixField");
    nameRow(m_useSuffix, m_suffix, tr("Suffix:"), "suffixField");
    m_preview = new QLabel(names);
    m_preview->setObjectName(QStringLiteral("filenamePreview"));
    namesForm->addRow(tr("Example:"), m_preview);

    // --- thumbnails ---
    if (generator) {
        QWidget *preview = addSection(this, layout, tr("Preview"), "previewGroupView");
        auto *previewLayout = new QVBoxLayout(preview);
        previewLayout->setContentsMargins(0, 0, 0, 0);
        m_thumbnails = new KTThumbnailsController(generator, preview);
        previewLayout->addWidget(m_thumbnails);
    }

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    m_start = new QPushButton(tr("Start"), this);
    m_start->setObjectName(QStringLiteral("startButton"));
    m_start->setDefault(true);
    buttons->addWidget(m_start);
    layout->addLayout(buttons);
    connect(m_start, &QPushButton::clicked, this, &KTBatchProcessingConfigurationController::didFinish);

    m_format->setCurrentIndex(0);
    m_quality->setValue(qRound(m_scaling->imageQuality() * 100));
    m_destination->setText(defaultDestinationPath());

    auto edited = [this] { changed(); };
    connect(m_design, &QComboBox::currentIndexChanged, this, [this] {
        designChanged();
        changed();
    });
    // Only the user's own choice is checked for missing frames.
    connect(m_design, &QComboBox::activated, this, [this] {
        if (!useCustomTemplate())
            warnWhenFramesAreMissing();
    });
    connect(m_customTemplateCheckbox, &QCheckBox::toggled, this, [this] {
        m_design->setEnabled(!m_customTemplateCheckbox->isChecked());
        designChanged();
        changed();
    });
    connect(m_customTemplateCheckbox, &QCheckBox::clicked, this, [this](bool on) {
        // Ticked with no file yet: the user wants to pick one.
        if (on && !m_customTemplate) {
            chooseCustomTemplate();
            return;
        }
        QTimer::singleShot(0, this, [this] { warnWhenFramesAreMissing(); });
    });
    connect(m_destination, &QLineEdit::textChanged, this, [this] { refresh(); });
    connect(m_format, &QComboBox::currentIndexChanged, this, edited);
    connect(m_quality, &QSlider::valueChanged, this, [this](int value) {
        m_scaling->setImageQuality(value / 100.0);
        changed();
    });
    connect(m_scalingType, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_scaling->setType(KTImageScalingType(index));
        refreshSizeFields();
        changed();
    });
    connect(m_units, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_scaling->setUnits(KTImageUnits(index));
        refreshSizeFields();
        changed();
    });
    auto length = [this](QDoubleSpinBox *box, void (KTImageScaling::*set)(double)) {
        connect(box, &QDoubleSpinBox::valueChanged, this, [this, set](double value) {
            QVariant proposed(value);
            m_scaling->validateWidth(&proposed);
            (m_scaling.get()->*set)(proposed.toDouble());
            refreshSizeFields();
            changed();
        });
    };
    length(m_width, &KTImageScaling::setWidth);
    length(m_height, &KTImageScaling::setHeight);
    connect(m_dpi, &QSpinBox::valueChanged, this, [this](int value) {
        QVariant proposed(value);
        m_scaling->validateDpi(&proposed);
        m_scaling->setDpi(proposed.toDouble());
        refreshSizeFields();
        changed();
    });
    for (QCheckBox *check : {m_usePrefix, m_useSuffix})
        connect(check, &QCheckBox::toggled, this, edited);
    for (QLineEdit *field : {m_prefix, m_suffix})
        connect(field, &QLineEdit::textChanged, this, edited);

    reloadDesigns();
    designChanged();
    refreshSizeFields();
    refresh();
}

// --- the design ---

bool KTBatchProcessingConfigurationController::useCustomTemplate() const
{
    return m_customTemplateCheckbox->isChecked() && m_customTemplate;
}

std::shared_ptr<KTTemplate> KTBatchProcessingConfigurationController::currentTemplate() const
{
    if (useCustomTemplate())
        return m_customTemplate;
    const QString name = selectedDesignName();
    return name.isEmpty() ? nullptr
                          : KTBatchProcessingTemplate::initWithBuiltinTemplateNamed(name, stores())->templateObject();
}

void KTBatchProcessingConfigurationController::designChanged()
{
    if (!m_thumbnails)
        return;
    if (useCustomTemplate()) {
        m_thumbnails->setTemplateData(m_customTemplateData);
        return;
    }
    const QString name = m_customTemplateCheckbox->isChecked() ? QString() : selectedDesignName();
    m_thumbnails->setTemplateData(
        name.isEmpty() ? QByteArray()
                       : KTBatchProcessingTemplate::initWithBuiltinTemplateNamed(name, stores())->encoded());
}

namespace {

// A reason as a sentence of its own.
QString sentence(QString reason)
{
    if (reason.isEmpty())
        return reason;
    reason[0] = reason[0].toUpper();
    return reason.endsWith(QLatin1Char('.')) ? reason : reason + QLatin1Char('.');
}

} // namespace

void KTBatchProcessingConfigurationController::warnWhenFramesAreMissing()
{
    if (useCustomTemplate()) {
        if (m_customTemplate)
            tellWhatTheDesignGives(*m_customTemplate);
        return;
    }
    const QString name = selectedDesignName();
    const Variation *saved =
        name.isEmpty() || !stores().templates ? nullptr : Variation::variationWithName(name, stores().templates);
    if (!saved)
        return;
    platform::Error why;
    const std::shared_ptr<KTTemplate> design = KTTemplate::templateFromVariation(saved, stores().library, &why);
    if (!design) {
        platform::runAlert({tr(kUnreadableSavedDesignFormat).arg(name),
                            (why.description.isEmpty() ? QString() : sentence(why.description) + QLatin1Char(' '))
                                + tr(kEveryPhotoRefusedText),
                            {},
                            platform::AlertRequest::Style::Warning});
        return;
    }
    tellWhatTheDesignGives(*design);
}

void KTBatchProcessingConfigurationController::tellWhatTheDesignGives(const KTTemplate &design)
{
    if (const QString refusal = KTImageProcessor::refusalOfDesign(design); !refusal.isEmpty())
        platform::runAlert({tr(kFramesNothingMessage),
                            sentence(refusal) + QLatin1Char(' ') + tr(kEveryPhotoRefusedText),
                            {},
                            platform::AlertRequest::Style::Warning});
    // Frames drawn from their own settings (a mat) still frame the photos.
    else if (design.hasLayersThatMissGraphics())
        platform::runAlert({tr(kTemplateAlertMessage), tr(kTemplateAlertText), {}, platform::AlertRequest::Style::Warning});
}

void KTBatchProcessingConfigurationController::setCustomTemplate(const std::shared_ptr<KTTemplate> &design, const QUrl &url)
{
    m_customTemplate = design;
    m_customTemplateURL = url;
    m_customTemplateData = design ? design->dataForArchiving() : QByteArray();
    m_customTemplateName->setText(design ? QFileInfo(url.toLocalFile()).fileName() : tr("none chosen"));
    m_customTemplateName->setToolTip(url.toLocalFile());
    m_customTemplateName->setEnabled(bool(design));
}

void KTBatchProcessingConfigurationController::chooseCustomTemplate()
{
    platform::OpenPanelRequest request;
    request.title = tr(kChooseTemplateMessage);
    request.allowedTypes = {QString::fromLatin1(platform::TypeTable::kTemplate)};
    request.choosesPackages = true;
    request.parent = window();
    if (m_customTemplateURL.isLocalFile())
        request.directory = QFileInfo(m_customTemplateURL.toLocalFile()).absolutePath();
    const QList<QUrl> chosen = platform::runOpenPanel(request);
    if (chosen.isEmpty()) {
        // A box ticked for a file that never came stays off.
        if (!m_customTemplate)
            m_customTemplateCheckbox->setChecked(false);
        return;
    }
    QUrl url = chosen.constFirst();
    // A file picked inside a package stands for the package.
    if (!KTTemplate::isTemplateAtURL(url) && url.isLocalFile()) {
        const QUrl parent = QUrl::fromLocalFile(QFileInfo(url.toLocalFile()).absolutePath());
        if (KTTemplate::isTemplateAtURL(parent))
            url = parent;
    }
    std::shared_ptr<KTTemplate> design;
    platform::Error why;
    const QString fileName = QFileInfo(url.toLocalFile()).fileName();
    if (KTTemplate::isTemplateAtURL(url)) {
        if (const std::optional<platform::FileWrapper> wrapper = KTTemplate::fileWrapperForURL(url))
            design = KTTemplate::templateFromFileWrapper(*wrapper, stores().library, nullptr, &why);
        else
            platform::logLine(QString::fromLatin1(kWrapperFailedFormat).arg(url.toString(), QStringLiteral("unreadable")));
    }
    if (!design) {
        if (!m_customTemplate)
            m_customTemplateCheckbox->setChecked(false);
        // The reason the read gave, when there is one: a design refused for its size is not damaged.
        const QString text = why.description.isEmpty()
                                 ? tr("“%1” is no design file, or it is damaged.").arg(fileName)
                                 : tr("“%1” can't be used. %2").arg(fileName, sentence(why.description));
        platform::runAlert({tr(kUnreadableTemplateMessage), text, {}, platform::AlertRequest::Style::Warning});
        return;
    }
    design->setName(fileName);
    const bool wasOn = m_customTemplateCheckbox->isChecked();
    setCustomTemplate(design, url);
    m_customTemplateCheckbox->setChecked(true);
    if (wasOn) { // the box did not change: the new design must still reach the page
        designChanged();
        changed();
    }
    // Taken even when it frames nothing yet: the frames it lacks may still
    // come to the library before the batch starts.
    tellWhatTheDesignGives(*design);
}

KTDesignStores KTBatchProcessingConfigurationController::stores() const
{
    return m_generator ? m_generator->stores() : KTDesignStores();
}

void KTBatchProcessingConfigurationController::reloadDesigns()
{
    const QString current = selectedDesignName();
    m_loading = true;
    m_design->clear();
    platform::ManagedObjectContext *moc = stores().templates;
    QStringList names = moc ? Variation::namesOfAllVariationsInMOC(moc).value_or(QStringList()) : QStringList();
    names.sort(Qt::CaseInsensitive);
    m_design->addItems(names);
    if (names.contains(current))
        m_design->setCurrentText(current);
    m_loading = false;
}

QString KTBatchProcessingConfigurationController::selectedDesignName() const
{
    return m_design->currentIndex() < 0 ? QString() : m_design->currentText();
}

KTImageFileFormat KTBatchProcessingConfigurationController::selectedFileFormat() const
{
    const QList<KTImageFileFormat> formats = KTImageFileFormat::allFormats();
    return formats.at(qBound(0, m_format->currentIndex(), int(formats.size()) - 1));
}

// --- where the copies go ---

QString KTBatchProcessingConfigurationController::defaultDestinationPath()
{
    const QString remembered =
        platform::UserDefaults::standard().stringForKey(QLatin1String(kDestinationKey));
    if (!remembered.isEmpty() && QFileInfo(remembered).isDir())
        return remembered;
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (!pictures.isEmpty() && QFileInfo(pictures).isDir())
        return pictures;
    return QDir::homePath();
}

QUrl KTBatchProcessingConfigurationController::destinationDirectory() const
{
    const QString path = m_destination->text().trimmed();
    return path.isEmpty() ? QUrl() : QUrl::fromLocalFile(QDir::cleanPath(path));
}

void KTBatchProcessingConfigurationController::setDestinationDirectory(const QUrl &folder)
{
    m_destination->setText(QDir::toNativeSeparators(folder.toLocalFile()));
}

void KTBatchProcessingConfigurationController::rememberDestination() const
{
    const QUrl folder = destinationDirectory();
    if (!folder.isEmpty() && QFileInfo(folder.toLocalFile()).isDir())
        platform::UserDefaults::standard().setObject(QLatin1String(kDestinationKey),
                                                     QFileInfo(folder.toLocalFile()).absoluteFilePath());
}

void KTBatchProcessingConfigurationController::chooseDestination()
{
    platform::OpenPanelRequest request;
    request.title = tr("Choose a destination directory");
    request.choosesDirectories = true;
    request.directory = m_destination->text();
    request.parent = window();
    const QList<QUrl> chosen = platform::runOpenPanel(request);
    if (chosen.isEmpty())
        return;
    setDestinationDirectory(chosen.first());
    rememberDestination();
}

// --- the photos ---

void KTBatchProcessingConfigurationController::addItems(const QList<QUrl> &items)
{
    const QList<QUrl> found = KTBatchProcessingCoordinator::scanItemsForImages(items);
    if (found.isEmpty()) {
        if (!items.isEmpty())
            platform::runAlert({tr(KTBatchProcessingCoordinator::kNoImagesTitle),
                                tr(KTBatchProcessingCoordinator::kNoImagesText), {}, platform::AlertRequest::Style::Warning});
        return;
    }
    m_files = KTBatchProcessingCoordinator::scanItemsForImages(m_files + found);
    refresh();
    changed();
}

void KTBatchProcessingConfigurationController::addFiles()
{
    platform::OpenPanelRequest request;
    request.title = tr("Choose image files for processing");
    request.allowsMultipleSelection = true;
    request.parent = window();
    request.nameFilters = {tr("Images (*.jpg *.jpeg *.png *.tif *.tiff *.psd *.heic *.heif *.gif *.bmp *.webp)"),
                           tr("All files (*)")};
    addItems(platform::runOpenPanel(request));
}

void KTBatchProcessingConfigurationController::addFolder()
{
    platform::OpenPanelRequest request;
    request.title = tr("Choose a folder of images for processing");
    request.choosesDirectories = true;
    request.parent = window();
    addItems(platform::runOpenPanel(request));
}

void KTBatchProcessingConfigurationController::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void KTBatchProcessingConfigurationController::dropEvent(QDropEvent *event)
{
    QList<QUrl> local;
    for (const QUrl &url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            local << url;
    }
    event->acceptProposedAction();
    addItems(local);
}

// --- presets ---

void KTBatchProcessingConfigurationController::loadPreset(const KTBatchProcessingOptions &options)
{
    m_loading = true;
    const auto &design = options.batchTemplate();
    if (design && design->source() == KTBatchProcessingTemplate::Builtin && !design->name().isEmpty()) {
        const int index = m_design->findText(design->name());
        if (index >= 0)
            m_design->setCurrentIndex(index);
        else
            platform::logLine(QString::fromLatin1(kMissingBuiltinFormat).arg(design->name()));
    } else if (design && design->source() == KTBatchProcessingTemplate::External) {
        if (design->externalURL().isEmpty())
            platform::logLine(QString::fromLatin1(kMissingExternalFormat).arg(design->name()));
        setCustomTemplate(design->templateObject(), design->externalURL());
    }
    m_customTemplateCheckbox->setChecked(bool(m_customTemplate));
    m_design->setEnabled(!m_customTemplateCheckbox->isChecked());
    const int format = int(KTImageFileFormat::allFormats().indexOf(options.fileFormat()));
    if (format >= 0)
        m_format->setCurrentIndex(format);
    if (options.scaling())
        m_scaling = options.scaling()->copy();
    m_quality->setValue(qRound(m_scaling->imageQuality() * 100));
    m_usePrefix->setChecked(!options.filenamePrefix().isNull());
    m_prefix->setText(options.filenamePrefix());
    m_useSuffix->setChecked(!options.filenameSuffix().isNull());
    m_suffix->setText(options.filenameSuffix());
    m_loading = false;
    designChanged();
    refreshSizeFields();
    refresh();
}

void KTBatchProcessingConfigurationController::loadDefaultExportParameters()
{
    const platform::UserDefaults &defaults = platform::UserDefaults::standard();
    m_loading = true;
    switch (defaults.integerForKey(QLatin1String(KTPreferenceKeys::kExportFilenameModificationKey))) {
    case 1:
        m_usePrefix->setChecked(true);
        m_prefix->setText(defaults.stringForKey(QLatin1String(KTPreferenceKeys::kExportFilenamePrependTextKey)));
        break;
    case 2:
        m_useSuffix->setChecked(true);
        m_suffix->setText(defaults.stringForKey(QLatin1String(KTPreferenceKeys::kExportFilenameAppendTextKey)));
        break;
    default:
        break;
    }
    m_scaling->setImageQuality(KTExportQuality::fromDefaults(defaults));
    m_quality->setValue(qRound(m_scaling->imageQuality() * 100));
    const qint64 format = defaults.integerForKey(QLatin1String(KTPreferenceKeys::kOutputImageFormatKey));
    if (format >= 0 && format < m_format->count())
        m_format->setCurrentIndex(int(format));
    m_loading = false;
    refreshSizeFields();
    refresh();
}

bool KTBatchProcessingConfigurationController::configurationIsValid() const
{
    if (m_customTemplateCheckbox->isChecked())
        return bool(m_customTemplate);
    return !selectedDesignName().isEmpty();
}

std::shared_ptr<const KTBatchProcessingOptions> KTBatchProcessingConfigurationController::currentOptions() const
{
    auto reference =
        useCustomTemplate()
            ? KTBatchProcessingTemplate::initWithExternalTemplate(m_customTemplate, m_customTemplateURL, stores())
            : KTBatchProcessingTemplate::initWithBuiltinTemplateNamed(selectedDesignName(), stores());
    return std::make_shared<const KTBatchProcessingOptions>(
        m_files, selectedFileFormat(), reference, m_scaling->copy(),
        m_usePrefix->isChecked() ? m_prefix->text() : QString(),
        m_useSuffix->isChecked() ? m_suffix->text() : QString());
}

// --- texts ---

QString KTBatchProcessingConfigurationController::filenamePreview() const
{
    return QStringLiteral("%1MyPhoto%2.%3")
        .arg(m_usePrefix->isChecked() ? m_prefix->text() : QString(),
             m_useSuffix->isChecked() ? m_suffix->text() : QString(),
             selectedFileFormat().fileExtensions().value(0));
}

QString KTBatchProcessingConfigurationController::selectedFilesSummary() const
{
    return tr(kFilesFormat, nullptr, int(m_files.size()));
}

QString KTBatchProcessingConfigurationController::sizeInPixelsSummary() const
{
    if (m_scaling->units() == KTImageUnitsPixels)
        return QString();
    const QString width = QString::number(m_scaling->pixelsWidth(), 'f', 0);
    const QString height = QString::number(m_scaling->pixelsHeight(), 'f', 0);
    switch (m_scaling->type()) {
    case KTImageScalingTypeCustomWidth:
        return tr(kWidthInPixelsFormat).arg(width);
    case KTImageScalingTypeCustomHeight:
        return tr(kHeightInPixelsFormat).arg(height);
    case KTImageScalingTypeFixInSize:
        return tr(kSizeInPixelsFormat).arg(width, height);
    default:
        return QString();
    }
}

void KTBatchProcessingConfigurationController::refreshSizeFields()
{
    const KTImageScaling *scaling = m_scaling.get();
    const KTImageUnits units = scaling->units();
    const int decimals = units == KTImageUnitsPixels ? 0 : 2;
    // The smallest length shown must still be at least the smallest allowed.
    const double step = std::pow(10.0, -decimals);
    const double minimum = std::ceil(scaling->convertFromPixelsTo(units, KTImageScaling::kMinimumPixels) / step) * step;
    const double maximum = scaling->convertFromPixelsTo(units, 100000);
    {
        const QSignalBlocker blockWidth(m_width), blockHeight(m_height), blockUnits(m_units), blockDpi(m_dpi),
            blockType(m_scalingType);
        for (QDoubleSpinBox *box : {m_width, m_height}) {
            box->setDecimals(decimals);
            box->setSingleStep(units == KTImageUnitsPixels ? 10 : 0.1);
            box->setRange(minimum, maximum);
        }
        m_width->setValue(scaling->width());
        m_height->setValue(scaling->height());
        m_units->setCurrentIndex(int(units));
        m_dpi->setValue(int(scaling->dpi()));
        m_scalingType->setCurrentIndex(int(scaling->type()));
    }
    const bool hideWidth = KTImageScaling::shouldHideWidth(scaling);
    const bool hideHeight = KTImageScaling::shouldHideHeight(scaling);
    m_width->setVisible(!hideWidth);
    m_height->setVisible(!hideHeight);
    m_times->setVisible(!hideWidth && !hideHeight);
    const bool hideUnits = KTImageScaling::shouldHideDpiAndUnits(scaling);
    if (auto *form = qobject_cast<QFormLayout *>(m_sizeRow->parentWidget()->layout())) {
        form->setRowVisible(m_sizeRow, !hideUnits);
        form->setRowVisible(m_dpiRow, !hideUnits);
    }
    m_pixelsSummary->setText(sizeInPixelsSummary());
}

void KTBatchProcessingConfigurationController::refresh()
{
    m_summary->setText(m_files.isEmpty() ? tr("Add photos, or folders of photos, to frame them all at once:")
                                         : selectedFilesSummary());
    const QUrl shared = KTBatchProcessingCoordinator::sharedParentDirectoryForFiles(m_files);
    QFileIconProvider icons;
    m_source->setText(m_files.isEmpty() ? QString()
                      : shared.isEmpty() ? tr(kMultipleLocations)
                                         : QDir::toNativeSeparators(shared.toLocalFile()));
    m_source->setToolTip(m_source->text());
    const int side = m_source->fontMetrics().height();
    m_sourceIcon->setPixmap(m_files.isEmpty() ? QPixmap()
                            : shared.isEmpty() ? icons.icon(QFileIconProvider::File).pixmap(side)
                                               : icons.icon(QFileInfo(shared.toLocalFile())).pixmap(side));
    m_sourceIcon->setVisible(!m_files.isEmpty());
    m_list->clear();
    for (const QUrl &file : m_files) {
        auto *item = new QListWidgetItem(QFileInfo(file.toLocalFile()).fileName(), m_list);
        item->setToolTip(file.toLocalFile());
    }
    if (m_thumbnails && m_thumbnails->files() != m_files)
        m_thumbnails->setFiles(m_files);
    if (auto *form = qobject_cast<QFormLayout *>(m_qualityRow->parentWidget()->layout()))
        form->setRowVisible(m_qualityRow, selectedFileFormat().hasQuality());
    m_qualityValue->setText(QStringLiteral("%1 %").arg(m_quality->value()));
    m_preview->setText(filenamePreview());
    const bool hasDesign = configurationIsValid();
    const bool hasDestination = !destinationDirectory().isEmpty();
    m_start->setEnabled(hasDesign && !m_files.isEmpty() && hasDestination);
    m_start->setToolTip(m_files.isEmpty() ? tr("Add photos first")
                        : !hasDesign      ? tr("Choose a design first")
                        : !hasDestination ? tr("Choose where the framed photos go first")
                                          : QString());
}

void KTBatchProcessingConfigurationController::changed()
{
    if (m_loading)
        return;
    refresh();
    if (configurationIsValid())
        emit didUpdateOptions();
}
