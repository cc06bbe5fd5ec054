#include "library/KTFrameImporterWindowController.h"

#include "app/AppDelegate.h"
#include "app/KTDocumentController.h"
#include "kit/ZCZipArchive.h"
#include "platform/Alert.h"
#include "platform/Log.h"
#include "platform/TypeTable.h"
#include "platform/ui/FilePanels.h"
#include "platform/ui/RevealInFileManager.h"
#include "platform/ui/WindowPlacement.h"
#include "stores/Frame.h"
#include "stores/FrameCollection.h"
#include "stores/FrameSet.h"
#include "stores/LibraryStore.h"

#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <type_traits>

namespace {

constexpr const char *kNothingAddedText = "Your library already has everything in “%1”.";
constexpr const char *kNothingInArchiveText = "“%1” holds no frames to import. Choose another frame archive.";
constexpr int kIconSize = 40;

template <typename T> void sortByName(QList<T *> &items)
{
    std::sort(items.begin(), items.end(), [](const T *a, const T *b) {
        return a->name().localeAwareCompare(b->name()) < 0;
    });
}

} // namespace

KTFrameImporterWindowController::KTFrameImporterWindowController(const QUrl &url, Services services)
    : WindowController(QString::fromLatin1(kNibName))
    , m_url(url)
    , m_services(std::move(services))
{
    if (!m_services.context) {
        m_services.context = []() -> platform::ManagedObjectContext * {
            AppDelegate *delegate = AppDelegate::shared();
            return delegate ? delegate->managedObjectContext() : nullptr;
        };
    }
    if (!m_services.graphicsFolder) {
        m_services.graphicsFolder = [] {
            AppDelegate *delegate = AppDelegate::shared();
            return delegate ? delegate->framesGraphicsFolder() : QString();
        };
    }
    if (!m_services.showInLibrary) {
        m_services.showInLibrary = [](LibraryItem *item) {
            if (AppDelegate *delegate = AppDelegate::shared(); delegate && item)
                delegate->showItemInLibrary(item);
        };
    }
}

KTFrameImporterWindowController::~KTFrameImporterWindowController()
{
    delete window();
}

KTFrameImporterWindowController *KTFrameImporterWindowController::openArchive(const QUrl &url, Services services)
{
    auto *controller = new KTFrameImporterWindowController(url, std::move(services));
    platform::placeWindowOnScreen(controller->window());
    controller->showWindow();
    return controller;
}

QWidget *KTFrameImporterWindowController::loadWindow()
{
    auto *window = new QWidget(nullptr, Qt::Window);
    window->setObjectName(QString::fromLatin1(kNibName));
    window->setWindowTitle(tr("Import Frames"));
    window->resize(460, 420);
    auto *column = new QVBoxLayout(window);
    column->setContentsMargins(18, 16, 18, 14);

    m_tabView = new QStackedWidget(window);
    m_tabView->setObjectName(QStringLiteral("tabView"));

    // The file page.
    auto *filePage = new QWidget(m_tabView);
    auto *fileColumn = new QVBoxLayout(filePage);
    fileColumn->addStretch();
    m_archiveIconImageView = new QLabel(filePage);
    m_archiveIconImageView->setObjectName(QStringLiteral("archiveIconImageView"));
    m_archiveIconImageView->setAlignment(Qt::AlignCenter);
    m_filePathLabel = new QLabel(filePage);
    m_filePathLabel->setObjectName(QStringLiteral("filePathLabel"));
    m_filePathLabel->setAlignment(Qt::AlignCenter);
    QFont large = m_filePathLabel->font();
    large.setPointSizeF(large.pointSizeF() * 1.3);
    large.setBold(true);
    m_filePathLabel->setFont(large);
    auto *explanation = new QLabel(tr("Import the frames in this archive into your frame library."), filePage);
    explanation->setAlignment(Qt::AlignCenter);
    explanation->setWordWrap(true);
    m_revealButton = new QPushButton(tr("Show in Folder"), filePage);
    m_revealButton->setObjectName(QStringLiteral("revealButton"));
    m_revealButton->setFlat(true);
    m_progressIndicator = new QProgressBar(filePage);
    m_progressIndicator->setObjectName(QStringLiteral("progressIndicator"));
    m_progressIndicator->setTextVisible(false);
    m_progressIndicator->hide();
    m_failureLabel = new QLabel(filePage);
    m_failureLabel->setObjectName(QStringLiteral("failureLabel"));
    m_failureLabel->setAlignment(Qt::AlignCenter);
    m_failureLabel->setWordWrap(true);
    m_failureLabel->hide();
    fileColumn->addWidget(m_archiveIconImageView);
    fileColumn->addWidget(m_filePathLabel);
    fileColumn->addWidget(explanation);
    fileColumn->addWidget(m_revealButton, 0, Qt::AlignHCenter);
    fileColumn->addSpacing(10);
    fileColumn->addWidget(m_progressIndicator);
    fileColumn->addWidget(m_failureLabel);
    fileColumn->addStretch();

    // The result page.
    auto *resultPage = new QWidget(m_tabView);
    auto *resultColumn = new QVBoxLayout(resultPage);
    resultColumn->setContentsMargins(0, 0, 0, 0);
    m_summaryLabel = new QLabel(resultPage);
    m_summaryLabel->setObjectName(QStringLiteral("summaryLabel"));
    m_summaryLabel->setWordWrap(true);
    m_tableView = new QTableWidget(resultPage);
    m_tableView->setObjectName(QStringLiteral("tableView"));
    m_tableView->setColumnCount(1);
    m_tableView->horizontalHeader()->hide();
    m_tableView->horizontalHeader()->setStretchLastSection(true);
    m_tableView->verticalHeader()->hide();
    m_tableView->setSelectionMode(QAbstractItemView::NoSelection);
    m_tableView->setShowGrid(false);
    m_tableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    resultColumn->addWidget(m_summaryLabel);
    resultColumn->addWidget(m_tableView, 1);
    resultColumn->addStretch();

    m_tabView->addWidget(filePage);
    m_tabView->addWidget(resultPage);
    column->addWidget(m_tabView, 1);

    auto *buttons = new QHBoxLayout;
    m_cancelButton = new QPushButton(tr("Cancel"), window);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_defaultButton = new QPushButton(tr("Import"), window);
    m_defaultButton->setObjectName(QStringLiteral("defaultButton"));
    m_defaultButton->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(m_cancelButton);
    buttons->addWidget(m_defaultButton);
    column->addLayout(buttons);

    connect(m_defaultButton, &QPushButton::clicked, this, [this] {
        if (m_state == Done || m_state == Failed)
            close();
        else
            defaultButtonPressed();
    });
    connect(m_cancelButton, &QPushButton::clicked, this, &KTFrameImporterWindowController::cancelPressed);
    connect(m_revealButton, &QPushButton::clicked, this, &KTFrameImporterWindowController::revealFrameArchive);
    return window;
}

void KTFrameImporterWindowController::windowDidLoad()
{
    showArchive();
}

void KTFrameImporterWindowController::showArchive()
{
    const QFileInfo info(m_url.toLocalFile());
    m_filePathLabel->setText(info.completeBaseName());
    const QIcon icon = QFileIconProvider().icon(info);
    m_archiveIconImageView->setPixmap(icon.pixmap(64, 64));
}

void KTFrameImporterWindowController::windowWillClose()
{
    // An import still running goes on without a window: it holds this
    // controller only weakly.
    deleteLater();
}

void KTFrameImporterWindowController::cancelPressed()
{
    close();
}

bool KTFrameImporterWindowController::fileIsThereOrAsk()
{
    if (QFileInfo(m_url.toLocalFile()).isFile())
        return true;
    platform::AlertRequest alert;
    alert.messageText = tr(kMissingFileMessage);
    alert.informativeText = tr(kMissingFileText);
    alert.buttons = {tr(kChooseAnotherButton), tr("Cancel")};
    if (platform::runAlert(alert) == 1)
        return false;
    // The chooser comes on a later pass, after the alert has gone.
    QPointer<KTFrameImporterWindowController> self(this);
    QTimer::singleShot(0, this, [self] {
        if (!self)
            return;
        platform::OpenPanelRequest request;
        request.title = tr(kChooseMessage);
        request.allowedTypes = {QString::fromLatin1(platform::TypeTable::kFrames)};
        request.parent = self->window();
        const QList<QUrl> chosen = platform::runOpenPanel(request);
        if (!self || chosen.isEmpty())
            return;
        self->m_url = chosen.constFirst();
        self->showArchive();
    });
    return false;
}

void KTFrameImporterWindowController::revealFrameArchive()
{
    if (!fileIsThereOrAsk())
        return;
    platform::revealInFileManager(QUrl::fromLocalFile(QFileInfo(m_url.toLocalFile()).absoluteFilePath()));
}

void KTFrameImporterWindowController::defaultButtonPressed()
{
    if (m_state == Ready)
        startImport();
}

void KTFrameImporterWindowController::startImport()
{
    if (!fileIsThereOrAsk())
        return;
    platform::ManagedObjectContext *context = m_services.context();
    if (!context) {
        platform::presentError(platform::Error{QString::fromLatin1(KTFrameLibraryImporter::kErrorDomain), 1,
                                               QString::fromUtf8(KTDocumentController::kNoLibraryText)
                                                   .arg(QFileInfo(m_url.toLocalFile()).fileName()),
                                               {}, {}});
        return;
    }
    const QString graphics = m_services.graphicsFolder();
    QDir().mkpath(graphics);
    setState(Importing);
    auto importer = std::make_shared<KTFrameLibraryImporter>(m_url, QUrl::fromLocalFile(graphics), context);
    importer->setDelegate(this);
    importer->startImport();
}

void KTFrameImporterWindowController::setState(State state)
{
    m_state = state;
    window();
    switch (state) {
    case Importing:
        m_progressIndicator->setRange(0, 1000);
        m_progressIndicator->setValue(0);
        m_progressIndicator->show();
        m_defaultButton->setEnabled(false);
        m_revealButton->setEnabled(false);
        break;
    case Done:
        m_tabView->setCurrentIndex(1);
        m_defaultButton->setText(tr("Close"));
        m_defaultButton->setEnabled(true);
        m_cancelButton->hide();
        break;
    case Failed:
        m_progressIndicator->hide();
        m_defaultButton->setText(tr("Close"));
        m_defaultButton->setEnabled(true);
        m_cancelButton->hide();
        m_revealButton->setEnabled(true);
        break;
    case Ready:
        break;
    }
}

void KTFrameImporterWindowController::importerProgress(KTFrameLibraryImporter *, double progress)
{
    if (m_progressIndicator)
        m_progressIndicator->setValue(int(std::clamp(progress, 0.0, 1.0) * 1000));
}

void KTFrameImporterWindowController::importerDidFinish(KTFrameLibraryImporter *importer)
{
    setState(Done);
    loadImportedItemsFromImporter(importer);
    emit importEnded(true);
}

void KTFrameImporterWindowController::importerFailedWithError(KTFrameLibraryImporter *, const platform::Error &error)
{
    platform::logLine(QString::fromLatin1(kImporterFailedLog).arg(error.description));
    setState(Failed);
    m_failureLabel->setText(failureText(error, QFileInfo(m_url.toLocalFile()).fileName()));
    m_failureLabel->show();
    emit importEnded(false);
}

QString KTFrameImporterWindowController::failureText(const platform::Error &error, const QString &name)
{
    // The unzipper's own words are for the log; the user hears what went
    // wrong with the archive and what may help.
    const bool noRoom = (error.domain == QLatin1String(ZCZipArchive::kCocoaErrorDomain)
                         && error.code == ZCZipArchive::kCocoaFileWriteOutOfSpaceError)
                        || (error.domain == QLatin1String(ZCZipArchive::kPOSIXErrorDomain)
                            && error.code == ZCZipArchive::kPOSIXNoSpace);
    if (noRoom)
        return tr(kUnpackFailedText).arg(name);
    if (error.domain == QLatin1String(ZCZipArchive::kErrorDomain)) {
        // An archive that would unpack beyond the limits is hostile or damaged, not short of room.
        const bool unpacking = error.code == ZCZipArchive::FailedWriteFile;
        return tr(unpacking ? kUnpackFailedText : kUnreadableText).arg(name);
    }
    QString text = tr(kImportFailedText).arg(name);
    // The importer's own messages are written for the user.
    if (error.domain == QLatin1String(KTFrameLibraryImporter::kErrorDomain) && !error.description.isEmpty())
        text += QLatin1Char('\n') + error.description;
    return text;
}

void KTFrameImporterWindowController::loadImportedItemsFromImporter(KTFrameLibraryImporter *importer)
{
    m_collections.clear();
    m_sets.clear();
    m_frames.clear();
    // The items added and those the archive changed, listed together.
    platform::ManagedObjectContext *context = importer->targetMOC();
    auto collect = [context](const QList<platform::ObjectID> &ids, auto &into) {
        using Item = std::remove_pointer_t<typename std::remove_reference_t<decltype(into)>::value_type>;
        qsizetype found = 0;
        for (const platform::ObjectID &id : ids) {
            if (auto *item = context ? dynamic_cast<Item *>(context->objectWithID(id)) : nullptr) {
                into.append(item);
                ++found;
            }
        }
        return found;
    };
    const qsizetype c = collect(importer->importedCollectionIDs(), m_collections);
    const qsizetype s = collect(importer->importedSetIDs(), m_sets);
    const qsizetype f = collect(importer->importedFrameIDs(), m_frames);
    const qsizetype uc = collect(importer->updatedCollectionIDs(), m_collections);
    const qsizetype us = collect(importer->updatedSetIDs(), m_sets);
    const qsizetype uf = collect(importer->updatedFrameIDs(), m_frames);
    sortByName(m_collections);
    sortByName(m_sets);
    sortByName(m_frames);
    const int collections = int(m_collections.size());
    const int sets = int(m_sets.size());
    const int frames = int(m_frames.size());
    m_setRows = sets ? sets + 1 : 0;
    m_collectionRows = collections ? collections + 1 : 0;
    m_numberOfRows = m_collectionRows + m_setRows + frames + (frames ? 1 : 0);

    const QString name = QFileInfo(m_url.toLocalFile()).completeBaseName();
    if (collections + sets + frames)
        m_summaryLabel->setText(KTDocumentController::framesImportedText(name, c, s, f, uc, us, uf));
    else if (importer->itemsInArchive() == 0)
        m_summaryLabel->setText(tr(kNothingInArchiveText).arg(QFileInfo(m_url.toLocalFile()).fileName()));
    else
        m_summaryLabel->setText(QString::fromUtf8(kNothingAddedText).arg(name));
    // Nothing added: the sentence says it all.
    m_tableView->setVisible(m_numberOfRows > 0);
    reloadTable();
}

bool KTFrameImporterWindowController::isGroupRow(int row) const
{
    if (m_numberOfRows == 0)
        return false;
    return row == 0 || (m_collectionRows != 0 && row == m_collectionRows)
           || (m_setRows != 0 && row == m_collectionRows + m_setRows);
}

QString KTFrameImporterWindowController::headingForRow(int row) const
{
    if (!isGroupRow(row))
        return {};
    if (row == 0)
        return !m_collections.isEmpty() ? tr("Collections") : !m_sets.isEmpty() ? tr("Sets") : tr("Frames");
    if (row == m_collectionRows)
        return !m_sets.isEmpty() ? tr("Sets") : tr("Frames");
    return tr("Frames");
}

LibraryItem *KTFrameImporterWindowController::frameObjectForRow(int row) const
{
    if (row < 0 || row >= m_numberOfRows || isGroupRow(row))
        return nullptr;
    if (row >= m_collectionRows + m_setRows)
        return m_frames.value(row - m_collectionRows - m_setRows - 1);
    if (row >= m_collectionRows)
        return m_sets.value(row - m_collectionRows - 1);
    return m_collections.value(row - 1);
}

QString KTFrameImporterWindowController::titleForRow(int row) const
{
    LibraryItem *item = frameObjectForRow(row);
    if (!item)
        return {};
    qsizetype children = 0;
    if (auto *collection = dynamic_cast<FrameCollection *>(item))
        children = collection->framesets().size();
    else if (auto *set = dynamic_cast<FrameSet *>(item))
        children = set->frames().size();
    return children ? QStringLiteral("%1 (%2)").arg(item->name()).arg(children) : item->name();
}

void KTFrameImporterWindowController::reloadTable()
{
    m_tableView->clearContents();
    m_tableView->setRowCount(m_numberOfRows);
    for (int row = 0; row < m_numberOfRows; ++row) {
        if (isGroupRow(row)) {
            auto *heading = new QLabel(headingForRow(row));
            heading->setObjectName(QStringLiteral("Group"));
            QFont bold = heading->font();
            bold.setBold(true);
            heading->setFont(bold);
            heading->setContentsMargins(6, 0, 0, 0);
            m_tableView->setCellWidget(row, 0, heading);
            m_tableView->setRowHeight(row, int(kGroupRowHeight));
            continue;
        }
        auto *cell = new QWidget;
        cell->setObjectName(QStringLiteral("Frame"));
        auto *line = new QHBoxLayout(cell);
        line->setContentsMargins(6, 2, 6, 2);
        auto *icon = new QToolButton(cell);
        icon->setObjectName(QStringLiteral("iconButton"));
        icon->setAutoRaise(true);
        icon->setIconSize(QSize(kIconSize, kIconSize));
        icon->setToolTip(tr("Show in Library"));
        const QImage image = frameObjectForRow(row)->iconImage();
        if (!image.isNull())
            icon->setIcon(QIcon(QPixmap::fromImage(image.scaled(kIconSize, kIconSize, Qt::KeepAspectRatio,
                                                                Qt::SmoothTransformation))));
        auto *title = new QLabel(titleForRow(row), cell);
        title->setObjectName(QStringLiteral("titleLabel"));
        auto *show = new QPushButton(tr("Show in Library"), cell);
        show->setObjectName(QStringLiteral("showInLibraryButton"));
        line->addWidget(icon);
        line->addWidget(title, 1);
        line->addWidget(show);
        connect(icon, &QToolButton::clicked, this, [this, row] { iconPreviewPressed(row); });
        connect(show, &QPushButton::clicked, this, [this, row] { iconPreviewPressed(row); });
        m_tableView->setCellWidget(row, 0, cell);
        m_tableView->setRowHeight(row, int(kItemRowHeight));
    }
}

void KTFrameImporterWindowController::iconPreviewPressed(int row)
{
    if (LibraryItem *item = frameObjectForRow(row))
        m_services.showInLibrary(item);
}
