#include "batch/ui/KTBatchProcessingConfigurationController.h"

#include "app/KTPreferenceKeys.h"
#include "batch/KTBatchProcessingCoordinator.h"
#include "batch/KTFilenameFormatter.h"
#include "design/TemplatesStore.h"
#include "design/Variation.h"
#include "platform/Alert.h"
#include "platform/UserDefaults.h"
#include "batch/ui/KTThumbnailsController.h"
#include "platform/ui/FilePanels.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QStandardPaths>
#include <QValidator>
#include <QVBoxLayout>

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

} // namespace

KTBatchProcessingConfigurationController::KTBatchProcessingConfigurationController(
    KTBatchProcessingCoordinator *generator, QWidget *parent)
    : QWidget(parent), m_scaling(KTImageScaling::defaultScaling())
{
    setObjectName(QStringLiteral("batchConfigurationPage"));
    setAcceptDrops(true);
    auto *layout = new QVBoxLayout(this);

    m_summary = new QLabel(this);
    m_source = new QLabel(this);
    m_source->setObjectName(QStringLiteral("selectedFilesSource"));
    m_source->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_summary);
    layout->addWidget(m_source);
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("inputList"));
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setMinimumHeight(140);
    layout->addWidget(m_list, 1);
    auto *adding = new QHBoxLayout;
    auto *addFiles = new QPushButton(tr("Add Files…"), this);
    addFiles->setObjectName(QStringLiteral("addFilesButton"));
    auto *addFolder = new QPushButton(tr("Add Folder…"), this);
    addFolder->setObjectName(QStringLiteral("addFolderButton"));
    auto *remove = new QPushButton(tr("Remove"), this);
    remove->setObjectName(QStringLiteral("removeFilesButton"));
    adding->addWidget(addFiles);
    adding->addWidget(addFolder);
    adding->addStretch();
    adding->addWidget(remove);
    layout->addLayout(adding);
    if (generator) {
        m_thumbnails = new KTThumbnailsController(generator, this);
        layout->addWidget(m_thumbnails);
    }
    connect(addFiles, &QPushButton::clicked, this, &KTBatchProcessingConfigurationController::addFiles);
    connect(addFolder, &QPushButton::clicked, this, &KTBatchProcessingConfigurationController::addFolder);
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

    auto *form = new QFormLayout;
    m_design = new QComboBox(this);
    m_design->setObjectName(QStringLiteral("designChooser"));
    form->addRow(tr("Design:"), m_design);
    auto *destinationRow = new QHBoxLayout;
    m_destination = new QLineEdit(this);
    m_destination->setObjectName(QStringLiteral("destinationField"));
    auto *chooseDestination = new QPushButton(tr("Choose…"), this);
    chooseDestination->setObjectName(QStringLiteral("chooseDestinationButton"));
    destinationRow->addWidget(m_destination, 1);
    destinationRow->addWidget(chooseDestination);
    form->addRow(tr("Save to:"), destinationRow);
    connect(chooseDestination, &QPushButton::clicked, this, &KTBatchProcessingConfigurationController::chooseDestination);

    m_format = new QComboBox(this);
    m_format->setObjectName(QStringLiteral("formatChooser"));
    for (const KTImageFileFormat &format : KTImageFileFormat::allFormats())
        m_format->addItem(format.name());
    form->addRow(tr("Format:"), m_format);
    m_qualityLabel = new QLabel(tr("Quality:"), this);
    m_quality = new QSlider(Qt::Horizontal, this);
    m_quality->setObjectName(QStringLiteral("qualitySlider"));
    m_quality->setRange(0, 100);
    form->addRow(m_qualityLabel, m_quality);

    m_scalingType = new QComboBox(this);
    m_scalingType->setObjectName(QStringLiteral("scalingChooser"));
    for (qint64 type = KTImageScalingTypeOriginal; type <= KTImageScalingTypeFixInSize; ++type)
        m_scalingType->addItem(KTImageScaling::titleForType(type));
    form->addRow(tr("Size:"), m_scalingType);
    auto *sizeRow = new QHBoxLayout;
    m_width = new QDoubleSpinBox(this);
    m_height = new QDoubleSpinBox(this);
    for (QDoubleSpinBox *box : {m_width, m_height}) {
        box->setDecimals(0);
        box->setRange(KTImageScaling::kMinimumPixels, 100000);
        box->setSuffix(tr(" px"));
        sizeRow->addWidget(box);
    }
    m_width->setObjectName(QStringLiteral("widthField"));
    m_height->setObjectName(QStringLiteral("heightField"));
    form->addRow(QString(), sizeRow);

    auto nameRow = [&](QCheckBox *&check, QLineEdit *&field, const QString &title, const char *name) {
        auto *row = new QHBoxLayout;
        check = new QCheckBox(title, this);
        field = new QLineEdit(this);
        field->setObjectName(QLatin1String(name));
        field->setValidator(new FilenameValidator(field));
        row->addWidget(check);
        row->addWidget(field, 1);
        form->addRow(QString(), row);
    };
    nameRow(m_usePrefix, m_prefix, tr("Prefix:"), "prefixField");
    nameRow(m_useSuffix, m_suffix, tr("Suffix:"), "suffixField");
    m_preview = new QLabel(this);
    m_preview->setObjectName(QStringLiteral("filenamePreview"));
    form->addRow(tr("File names:"), m_preview);
    layout->addLayout(form);

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
    m_scalingType->setCurrentIndex(int(m_scaling->type()));
    m_width->setValue(m_scaling->pixelsWidth());
    m_height->setValue(m_scaling->pixelsHeight());
    m_destination->setText(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation));

    auto edited = [this] { changed(); };
    connect(m_design, &QComboBox::currentIndexChanged, this, [this] {
        designChanged();
        changed();
    });
    connect(m_destination, &QLineEdit::textChanged, this, [this] { refresh(); });
    connect(m_format, &QComboBox::currentIndexChanged, this, edited);
    connect(m_quality, &QSlider::valueChanged, this, [this](int value) {
        m_scaling->setImageQuality(value / 100.0);
        changed();
    });
    connect(m_scalingType, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_scaling->setType(KTImageScalingType(index));
        changed();
    });
    connect(m_width, &QDoubleSpinBox::valueChanged, this, [this](double value) {
        m_scaling->setWidth(m_scaling->convertFromPixelsTo(m_scaling->units(), value));
        changed();
    });
    connect(m_height, &QDoubleSpinBox::valueChanged, this, [this](double value) {
        m_scaling->setHeight(m_scaling->convertFromPixelsTo(m_scaling->units(), value));
        changed();
    });
    for (QCheckBox *check : {m_usePrefix, m_useSuffix})
        connect(check, &QCheckBox::toggled, this, edited);
    for (QLineEdit *field : {m_prefix, m_suffix})
        connect(field, &QLineEdit::textChanged, this, edited);

    reloadDesigns();
    designChanged();
    refresh();
}

void KTBatchProcessingConfigurationController::designChanged()
{
    if (!m_thumbnails)
        return;
    const QString name = selectedDesignName();
    m_thumbnails->setTemplateData(
        name.isEmpty() ? QByteArray() : KTBatchProcessingTemplate::initWithBuiltinTemplateNamed(name)->encoded());
}

void KTBatchProcessingConfigurationController::reloadDesigns()
{
    const QString current = selectedDesignName();
    m_loading = true;
    m_design->clear();
    TemplatesStore *store = TemplatesStore::shared();
    platform::ManagedObjectContext *moc = store ? store->templatesManagedObjectContext() : nullptr;
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

QUrl KTBatchProcessingConfigurationController::destinationDirectory() const
{
    const QString path = m_destination->text().trimmed();
    return path.isEmpty() ? QUrl() : QUrl::fromLocalFile(QDir::cleanPath(path));
}

void KTBatchProcessingConfigurationController::setDestinationDirectory(const QUrl &folder)
{
    m_destination->setText(folder.toLocalFile());
}

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
    request.title = tr("Add Files");
    request.allowsMultipleSelection = true;
    request.parent = window();
    request.nameFilters = {tr("Images (*.jpg *.jpeg *.png *.tif *.tiff *.psd)"), tr("All files (*)")};
    addItems(platform::runOpenPanel(request));
}

void KTBatchProcessingConfigurationController::addFolder()
{
    platform::OpenPanelRequest request;
    request.title = tr("Add Folder");
    request.choosesDirectories = true;
    request.parent = window();
    addItems(platform::runOpenPanel(request));
}

void KTBatchProcessingConfigurationController::chooseDestination()
{
    platform::OpenPanelRequest request;
    request.title = tr("Save Framed Photos To");
    request.choosesDirectories = true;
    request.directory = m_destination->text();
    request.parent = window();
    const QList<QUrl> chosen = platform::runOpenPanel(request);
    if (!chosen.isEmpty())
        setDestinationDirectory(chosen.first());
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

void KTBatchProcessingConfigurationController::loadPreset(const KTBatchProcessingOptions &options)
{
    m_loading = true;
    if (const auto &design = options.batchTemplate();
        design && design->source() == KTBatchProcessingTemplate::Builtin && !design->name().isEmpty()) {
        const int index = m_design->findText(design->name());
        if (index >= 0)
            m_design->setCurrentIndex(index);
        else
            qWarning("Could not find a builtin template named %s", qPrintable(design->name()));
    }
    const int format = int(KTImageFileFormat::allFormats().indexOf(options.fileFormat()));
    if (format >= 0)
        m_format->setCurrentIndex(format);
    if (options.scaling())
        m_scaling = options.scaling()->copy();
    m_quality->setValue(qRound(m_scaling->imageQuality() * 100));
    m_scalingType->setCurrentIndex(int(m_scaling->type()));
    m_width->setValue(m_scaling->pixelsWidth());
    m_height->setValue(m_scaling->pixelsHeight());
    m_usePrefix->setChecked(!options.filenamePrefix().isNull());
    m_prefix->setText(options.filenamePrefix());
    m_useSuffix->setChecked(!options.filenameSuffix().isNull());
    m_suffix->setText(options.filenameSuffix());
    m_loading = false;
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
    const double quality = defaults.doubleForKey(QLatin1String(KTPreferenceKeys::kOutputImageQualityKey)) / 100.0;
    m_scaling->setImageQuality(qBound(0.0, quality, 1.0));
    m_quality->setValue(qRound(m_scaling->imageQuality() * 100));
    const qint64 format = defaults.integerForKey(QLatin1String(KTPreferenceKeys::kOutputImageFormatKey));
    if (format >= 0 && format < m_format->count())
        m_format->setCurrentIndex(int(format));
    m_loading = false;
    refresh();
}

bool KTBatchProcessingConfigurationController::configurationIsValid() const
{
    return !selectedDesignName().isEmpty();
}

std::shared_ptr<const KTBatchProcessingOptions> KTBatchProcessingConfigurationController::currentOptions() const
{
    // Pixels here are the model's units, so a typed size is the size written.
    auto scaling = m_scaling->copy();
    return std::make_shared<const KTBatchProcessingOptions>(
        m_files, selectedFileFormat(), KTBatchProcessingTemplate::initWithBuiltinTemplateNamed(selectedDesignName()),
        scaling, m_usePrefix->isChecked() ? m_prefix->text() : QString(),
        m_useSuffix->isChecked() ? m_suffix->text() : QString());
}

QString KTBatchProcessingConfigurationController::filenamePreview() const
{
    return QStringLiteral("%1MyPhoto%2.%3")
        .arg(m_usePrefix->isChecked() ? m_prefix->text() : QString(),
             m_useSuffix->isChecked() ? m_suffix->text() : QString(),
             selectedFileFormat().fileExtensions().value(0));
}

QString KTBatchProcessingConfigurationController::selectedFilesSummary() const
{
    return tr(m_files.size() == 1 ? kOneFileFormat : kFilesFormat).arg(m_files.size());
}

void KTBatchProcessingConfigurationController::refresh()
{
    m_summary->setText(selectedFilesSummary());
    const QUrl shared = KTBatchProcessingCoordinator::sharedParentDirectoryForFiles(m_files);
    m_source->setText(m_files.isEmpty() ? QString()
                      : shared.isEmpty() ? tr(kMultipleLocations)
                                         : QDir::toNativeSeparators(shared.toLocalFile()));
    {
        m_list->clear();
        for (const QUrl &file : m_files) {
            auto *item = new QListWidgetItem(QFileInfo(file.toLocalFile()).fileName(), m_list);
            item->setToolTip(file.toLocalFile());
        }
    }
    if (m_thumbnails && m_thumbnails->files() != m_files)
        m_thumbnails->setFiles(m_files);
    const bool jpeg = selectedFileFormat() == KTImageFileFormat::JPGFileFormat();
    m_qualityLabel->setVisible(jpeg);
    m_quality->setVisible(jpeg);
    const KTImageScaling *scaling = m_scaling.get();
    m_width->setVisible(!KTImageScaling::shouldHideWidth(scaling));
    m_height->setVisible(!KTImageScaling::shouldHideHeight(scaling));
    m_preview->setText(filenamePreview());
    m_start->setEnabled(configurationIsValid() && !m_files.isEmpty() && !destinationDirectory().isEmpty());
}

void KTBatchProcessingConfigurationController::changed()
{
    if (m_loading)
        return;
    refresh();
    if (configurationIsValid())
        emit didUpdateOptions();
}
