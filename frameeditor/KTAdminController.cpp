#include "frameeditor/KTAdminController.h"

#include "app/AppDelegate.h"
#include "app/KTMainMenu.h"
#include "kit/VLValueAdditions.h"
#include "platform/Error.h"
#include "platform/UserDefaults.h"
#include "platform/archive/PropertyList.h"
#include "platform/ui/FilePanels.h"
#include "platform/ui/OpenWithDesktop.h"
#include "stores/Frame.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameCollection.h"
#include "stores/FrameImage.h"
#include "stores/FrameSet.h"
#include "stores/KTImportOldCollections.h"
#include "stores/LibraryItemDictionary.h"
#include "stores/LibraryStore.h"
#include "platform/ui/WindowPlacement.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace LID = LibraryItemDictionary;

namespace {

platform::UserDefaults &defaults()
{
    return platform::UserDefaults::standard();
}

QString key(const char *name)
{
    return QString::fromLatin1(name);
}

QDateTime referenceDate()
{
    return QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
}

// The whole second a date falls in: file dates count in seconds.
QDateTime wholeSecond(const QDateTime &date)
{
    return QDateTime::fromSecsSinceEpoch(date.toSecsSinceEpoch(), Qt::UTC);
}

QDateTime storedSinceDate()
{
    const QDateTime date = defaults().objectForKey(key(KTAdminController::kSinceDateKey)).toDateTime();
    return date.isValid() ? date.toUTC() : QDateTime();
}

bool changedSince(const LibraryItem *item, const QDateTime &date)
{
    const QDateTime modified = item->lastModified();
    return modified.isValid() && modified > date;
}

QList<Frame *> framesChangedSince(FrameCollection *collection, const QDateTime &date)
{
    QList<Frame *> frames;
    for (FrameSet *set : collection->framesets())
        for (Frame *frame : set->frames())
            if (changedSince(frame, date))
                frames.append(frame);
    return frames;
}

// The item files of one export, in writing order.
struct ItemFile {
    const char *folder;
    LibraryItem *item;
    QVariantMap dictionary;
    QList<FrameImage *> images;
};

QList<ItemFile> itemFilesOf(const QList<FrameCollection *> &chosen, const QDateTime &since)
{
    QList<ItemFile> files;
    for (FrameCollection *collection : chosen) {
        if (changedSince(collection, since)) {
            QList<FrameImage *> icon;
            if (collection->icon())
                icon.append(collection->icon());
            files.append({KTAdminController::kCollectionsFolder, collection, LID::asDictionary(*collection), icon});
        }
    }
    for (FrameCollection *collection : chosen) {
        for (FrameSet *set : collection->framesets()) {
            if (!changedSince(set, since))
                continue;
            QList<FrameImage *> icon;
            if (set->icon())
                icon.append(set->icon());
            files.append({KTAdminController::kSetsFolder, set, LID::asDictionary(*set), icon});
        }
    }
    for (FrameCollection *collection : chosen) {
        for (Frame *frame : framesChangedSince(collection, since)) {
            QList<FrameImage *> images;
            for (FrameAttribute *attribute : frame->attributes())
                if (attribute->kindValue() == FrameAttribute::KindImage && attribute->imageVal())
                    images.append(attribute->imageVal());
            files.append({KTAdminController::kFramesFolder, frame, LID::asDictionary(*frame), images});
        }
    }
    return files;
}

void presentExportError(const QString &description)
{
    platform::Error error = platform::describedError(description);
    error.recoverySuggestion = QObject::tr("Nothing was exported: the next export starts from the same date as this one.");
    platform::presentError(error);
}

} // namespace

KTAdminController::KTAdminController(LibraryStore *library, QObject *parent)
    : WindowController(QString::fromLatin1(kNibName), parent)
    , m_library(library)
    , m_dateSince(referenceDate())
    , m_clock([] { return QDateTime::currentDateTimeUtc(); })
    , m_openFolder([](const QString &folder) {
        if (AppDelegate *delegate = AppDelegate::shared())
            delegate->openURL(QUrl::fromLocalFile(folder));
        else
            platform::openWithDesktop(QUrl::fromLocalFile(folder));
    })
{
    m_countsOfItems.reserve(10);
}

KTAdminController::~KTAdminController()
{
    delete m_importWindow.data();
    if (isWindowLoaded())
        delete window();
}

platform::ManagedObjectContext *KTAdminController::moc() const
{
    return m_library ? m_library->managedObjectContext() : nullptr;
}

void KTAdminController::createAdminMenu()
{
    QPointer<KTAdminController> self = this;
    KTMainMenu::addMenuToEveryWindow(tr(kMenuTitle), QStringLiteral("adminMenu"), [self](QMenu *menu) {
        if (self)
            self->fillAdminMenu(menu);
    });
}

void KTAdminController::fillAdminMenu(QMenu *menu)
{
    const struct {
        const char *title;
        const char *name;
        void (KTAdminController::*run)();
    } items[] = {{kExportUpdatesItem, "exportDatabaseUpdatesAction", &KTAdminController::exportDatabaseUpdates},
                 {kImportItem, "importv2CollectionAction", &KTAdminController::importv2Collection},
                 {kWebExportItem, "exportFramesForWebAction", &KTAdminController::exportFramesForWeb}};
    for (const auto &item : items) {
        QAction *action = menu->addAction(tr(item.title));
        action->setObjectName(QString::fromLatin1(item.name));
        QPointer<KTAdminController> self = this;
        // Queued: the command runs after the menu has closed.
        connect(action, &QAction::triggered, this, [self, run = item.run] {
            if (self)
                (self.data()->*run)();
        }, Qt::QueuedConnection);
    }
}

QWidget *KTAdminController::loadWindow()
{
    auto *window = new QWidget(nullptr, Qt::Window);
    window->setObjectName(QString::fromLatin1(kNibName));
    window->setWindowTitle(tr("Export Library Updates"));
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    auto *column = new QVBoxLayout(window);

    auto *dateRow = new QHBoxLayout;
    dateRow->addWidget(new QLabel(tr("Items changed since:"), window));
    m_datePicker = new QDateTimeEdit(window);
    m_datePicker->setObjectName(QStringLiteral("datePicker"));
    m_datePicker->setCalendarPopup(true);
    m_datePicker->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    dateRow->addWidget(m_datePicker, 1);
    column->addLayout(dateRow);

    m_collectionsTableView = new QTableWidget(0, 2, window);
    m_collectionsTableView->setObjectName(QStringLiteral("collectionsTableView"));
    auto *nameHeader = new QTableWidgetItem(tr("Collection"));
    nameHeader->setData(Qt::UserRole, QStringLiteral("name"));
    auto *countHeader = new QTableWidgetItem(tr("Changed items"));
    countHeader->setData(Qt::UserRole, QStringLiteral("count"));
    m_collectionsTableView->setHorizontalHeaderItem(0, nameHeader);
    m_collectionsTableView->setHorizontalHeaderItem(1, countHeader);
    m_collectionsTableView->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_collectionsTableView->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_collectionsTableView->verticalHeader()->hide();
    m_collectionsTableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_collectionsTableView->setSelectionMode(QAbstractItemView::MultiSelection);
    m_collectionsTableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    column->addWidget(m_collectionsTableView, 1);

    auto *selectButton = new QPushButton(tr("Select Changed Collections"), window);
    selectButton->setObjectName(QStringLiteral("selectChangedButton"));
    auto *selectRow = new QHBoxLayout;
    selectRow->addWidget(selectButton);
    selectRow->addStretch();
    column->addLayout(selectRow);

    auto *pathRow = new QHBoxLayout;
    pathRow->addWidget(new QLabel(tr("Export folder:"), window));
    m_pathTextField = new QLineEdit(window);
    m_pathTextField->setObjectName(QStringLiteral("pathTextField"));
    m_pathTextField->setText(defaults().stringForKey(key(kExportPathKey)));
    pathRow->addWidget(m_pathTextField, 1);
    auto *browseButton = new QPushButton(tr("Choose…"), window);
    browseButton->setObjectName(QStringLiteral("browseButton"));
    pathRow->addWidget(browseButton);
    column->addLayout(pathRow);

    auto *exportButton = new QPushButton(tr("Export"), window);
    exportButton->setObjectName(QStringLiteral("exportButton"));
    exportButton->setDefault(true);
    auto *exportRow = new QHBoxLayout;
    exportRow->addStretch();
    exportRow->addWidget(exportButton);
    column->addLayout(exportRow);
    window->resize(520, 460);

    connect(m_datePicker, &QDateTimeEdit::dateTimeChanged, this, [this](const QDateTime &date) {
        if (date != m_dateSince)
            setDateSince(date);
    });
    connect(selectButton, &QPushButton::clicked, this, &KTAdminController::selectAllNonZeroCountCollections);
    connect(browseButton, &QPushButton::clicked, this, &KTAdminController::browseForTargetFolder);
    connect(exportButton, &QPushButton::clicked, this, [this] { startExport(); });
    // The field and the default name the same folder: the web export starts there too.
    connect(m_pathTextField, &QLineEdit::editingFinished, this, [this] {
        defaults().setObject(key(kExportPathKey), m_pathTextField->text().trimmed());
    });
    return window;
}

void KTAdminController::setDateSince(const QDateTime &date)
{
    m_dateSince = date;
    recalculateCountsOfItemsForDate(date);
    reloadTable();
    selectAllNonZeroCountCollections();
}

void KTAdminController::exportDatabaseUpdates()
{
    const QDateTime stored = storedSinceDate();
    m_dateSince = stored.isValid() ? stored : referenceDate();
    m_collections.clear();
    if (moc())
        for (FrameCollection *collection :
             moc()->fetchObjects<FrameCollection>({}, {platform::SortDescriptor(QStringLiteral("name"))}))
            m_collections.append(collection->objectID());
    recalculateCountsOfItemsForDate(m_dateSince);
    QWidget *w = window();
    {
        const QSignalBlocker block(m_datePicker);
        m_datePicker->setDateTime(m_dateSince.toLocalTime());
    }
    reloadTable();
    selectAllNonZeroCountCollections();
    platform::placeWindowOnScreen(w);
    showWindow();
}

void KTAdminController::recalculateCountsOfItemsForDate(const QDateTime &date)
{
    m_countsOfItems.clear();
    for (FrameCollection *collection : collections()) {
        if (!collection) {
            m_countsOfItems.append(0);
            continue;
        }
        qint64 count = changedSince(collection, date) ? 1 : 0;
        for (FrameSet *set : collection->framesets())
            count += changedSince(set, date) ? 1 : 0;
        count += framesChangedSince(collection, date).size();
        m_countsOfItems.append(count);
    }
}

void KTAdminController::reloadTable()
{
    if (!m_collectionsTableView)
        return;
    m_collectionsTableView->clearSelection();
    const QList<FrameCollection *> listed = collections();
    m_collectionsTableView->setRowCount(int(listed.size()));
    for (int row = 0; row < listed.size(); ++row) {
        m_collectionsTableView->setItem(row, 0, new QTableWidgetItem(listed.at(row) ? listed.at(row)->name() : QString()));
        auto *count = new QTableWidgetItem(QString::number(m_countsOfItems.value(row)));
        count->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_collectionsTableView->setItem(row, 1, count);
    }
}

void KTAdminController::selectAllNonZeroCountCollections()
{
    if (!m_collectionsTableView)
        return;
    m_collectionsTableView->clearSelection();
    for (int row = 0; row < m_countsOfItems.size() && row < m_collectionsTableView->rowCount(); ++row)
        if (m_countsOfItems.at(row) != 0)
            m_collectionsTableView->selectRow(row);
}

QList<FrameCollection *> KTAdminController::chosenCollections() const
{
    QList<int> rows;
    if (m_collectionsTableView)
        for (const QModelIndex &index : m_collectionsTableView->selectionModel()->selectedRows())
            rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    const QList<FrameCollection *> listed = collections();
    QList<FrameCollection *> chosen;
    for (int row : rows)
        if (row < listed.size() && listed.at(row))
            chosen.append(listed.at(row));
    return chosen;
}

QList<FrameCollection *> KTAdminController::collections() const
{
    QList<FrameCollection *> listed;
    for (const platform::ObjectID &id : m_collections)
        listed.append(moc() ? dynamic_cast<FrameCollection *>(moc()->objectWithID(id)) : nullptr);
    return listed;
}

void KTAdminController::browseForTargetFolder()
{
    platform::OpenPanelRequest request;
    request.title = tr("Choose the Export Folder");
    request.choosesDirectories = true;
    request.directory = m_pathTextField ? m_pathTextField->text() : QString();
    request.parent = window();
    const QList<QUrl> chosen = platform::runOpenPanel(request);
    if (chosen.isEmpty())
        return;
    const QString path = chosen.constLast().toLocalFile();
    defaults().setObject(key(kExportPathKey), path);
    if (m_pathTextField)
        m_pathTextField->setText(path);
}

QString KTAdminController::filenameWithDateAndGUID(const QDateTime &date, const QString &guid)
{
    return QString::fromLatin1(kFileNameFormat).arg(NSDateVLExtras::stringInUTCWithTime(date), guid);
}

bool KTAdminController::exportImageToGraphicsPathFrameImagesPath(FrameImage *image, const QString &graphicsPath,
                                                                 const QString &frameImagesPath, platform::Error *error)
{
    const QString guid = image->guid();
    if (!LID::isUsableGUID(guid)) {
        platform::setError(error, tr("The picture “%1” has no GUID that can name a file.").arg(image->filename()));
        return false;
    }
    if (!platform::PropertyList::writeFile(QDir(frameImagesPath).filePath(guid), LID::asDictionary(*image),
                                           platform::PropertyList::Format::XML, error))
        return false;
    // A graphics file exported before stays as it is.
    const QString target = QDir(graphicsPath).filePath(guid);
    if (QFileInfo::exists(target))
        return true;
    const QString source = m_library ? QDir(m_library->framesGraphicsFolder()).filePath(guid) : QString();
    QFile file(source);
    if (!file.copy(target)) {
        platform::setError(error,
                           tr("Could not copy the graphics file %1 to %2: %3").arg(source, target, file.errorString()));
        return false;
    }
    return true;
}

bool KTAdminController::startExport()
{
    const QString base = m_pathTextField ? m_pathTextField->text().trimmed() : QString();
    if (base.isEmpty()) {
        presentExportError(tr("Choose the folder to export the updates to."));
        return false;
    }
    if (!QFileInfo(base).isDir()) {
        presentExportError(tr("The export folder “%1” does not exist.").arg(base));
        return false;
    }

    // The file dates count back from now, one second an item, so none lies in
    // the future, and they must all follow the last export's.
    const QDateTime exportDate = m_clock().toUTC();
    const QDateTime previous = storedSinceDate();
    const QList<ItemFile> files = itemFilesOf(chosenCollections(), m_dateSince);
    const QDateTime firstStamp = wholeSecond(exportDate).addSecs(-qMax<qint64>(files.size() - 1, 0));
    if (previous.isValid() && (exportDate < previous || (!files.isEmpty() && firstStamp <= wholeSecond(previous)))) {
        const qint64 wait = firstStamp.secsTo(wholeSecond(previous)) + 1;
        presentExportError(exportDate < previous
                               ? tr("The last export (%1) is later than the clock's time now.")
                                     .arg(NSDateVLExtras::stringInUTCWithTime(previous))
                               : tr("The file dates of %1 would reach back to the last export (%2). Export again "
                                    "in %3.")
                                     .arg(tr("%n item(s)", nullptr, int(files.size())),
                                          NSDateVLExtras::stringInUTCWithTime(previous),
                                          tr("%n second(s)", nullptr, int(wait))));
        return false;
    }

    const QDir dir(base);
    QString error;
    for (const char *folder : {kCollectionsFolder, kSetsFolder, kFramesFolder, kGraphicsFolder}) {
        if (!dir.mkpath(QString::fromLatin1(folder)) && error.isEmpty())
            error = tr("Could not create the folder %1.").arg(dir.filePath(QString::fromLatin1(folder)));
    }
    const QString graphicsPath = dir.filePath(QString::fromLatin1(kGraphicsFolder));
    const QString frameImagesPath = QDir(graphicsPath).filePath(QString::fromLatin1(kFrameImagesFolder));
    if (error.isEmpty() && !QDir().mkpath(frameImagesPath))
        error = tr("Could not create the folder %1.").arg(frameImagesPath);

    QStringList written;
    QDateTime stamp = firstStamp;
    for (const ItemFile &file : files) {
        if (!error.isEmpty())
            break;
        const QString path = QDir(dir.filePath(QString::fromLatin1(file.folder)))
                                 .filePath(filenameWithDateAndGUID(stamp, file.item->guid()));
        platform::Error writeError;
        if (!LID::isUsableGUID(file.item->guid())) {
            error = tr("“%1” has no GUID that can name a file.").arg(file.item->name());
            break;
        }
        if (!platform::PropertyList::writeFile(path, file.dictionary, platform::PropertyList::Format::XML, &writeError)) {
            error = writeError.description;
            break;
        }
        written.append(path);
        for (FrameImage *image : file.images) {
            if (!exportImageToGraphicsPathFrameImagesPath(image, graphicsPath, frameImagesPath, &writeError)) {
                error = writeError.description;
                break;
            }
        }
        stamp = stamp.addSecs(1);
    }

    if (!error.isEmpty()) {
        // A half-written export is no update to publish: its item files go.
        for (const QString &path : written)
            QFile::remove(path);
        presentExportError(tr("The library updates could not be exported. %1").arg(error));
        return false;
    }
    defaults().setObject(key(kSinceDateKey), exportDate);
    if (m_openFolder)
        m_openFolder(base);
    return true;
}

void KTAdminController::exportFramesForWeb()
{
    auto *exporter = new KTLibraryExporterForWeb(m_library, this);
    exporter->setOpenFolder(m_openFolder);
    connect(exporter, &KTLibraryExporterForWeb::exportEnded, exporter, &QObject::deleteLater);
    exporter->exportLibrary();
}

QWidget *KTAdminController::buildImportWindow()
{
    auto *w = new QWidget(nullptr, Qt::Window);
    w->setObjectName(QString::fromLatin1(kImportWindowName));
    w->setWindowTitle(tr("Import v2 Collection"));
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    auto *form = new QFormLayout(w);
    m_author = new QLineEdit(w);
    m_author->setObjectName(QStringLiteral("author"));
    m_URL = new QLineEdit(QString::fromLatin1(KTImportOldCollections::kCollectionURL), w);
    m_URL->setObjectName(QStringLiteral("URL"));
    m_useAsCatalogRef = new QCheckBox(tr("Use each graphics file's name as the catalogue reference"), w);
    m_useAsCatalogRef->setObjectName(QStringLiteral("useAsCatalogRef"));
    auto *importButton = new QPushButton(tr("Choose Folder and Import…"), w);
    importButton->setObjectName(QStringLiteral("browseAndStartImportButton"));
    form->addRow(tr("Author:"), m_author);
    form->addRow(tr("Web address:"), m_URL);
    form->addRow(m_useAsCatalogRef);
    form->addRow(importButton);
    w->resize(460, w->sizeHint().height());
    connect(importButton, &QPushButton::clicked, this, &KTAdminController::browseAndStartImport);
    return w;
}

void KTAdminController::importv2Collection()
{
    QWidget *w = window();
    if (!m_importWindow)
        m_importWindow = buildImportWindow();
    for (QWidget *centred : {w, m_importWindow.data()})
        platform::placeWindowOnScreen(centred);
    m_author->setText(QString::fromLatin1(kDefaultAuthor));
    m_useAsCatalogRef->setChecked(false);
    m_importWindow->show();
    m_importWindow->raise();
    m_importWindow->activateWindow();
}

void KTAdminController::browseAndStartImport()
{
    platform::OpenPanelRequest request;
    request.title = tr("Choose the Collection Folder");
    request.choosesDirectories = true;
    request.parent = m_importWindow ? m_importWindow.data() : window();
    const QList<QUrl> chosen = platform::runOpenPanel(request);
    if (chosen.isEmpty() || !m_importWindow)
        return;
    KTImportOldCollections importer;
    importer.setMoc(moc());
    importer.setAuthor(m_author->text());
    importer.setURL(m_URL->text());
    importer.setUseFilenameAsCatalogRef(m_useAsCatalogRef->isChecked());
    importer.importCollectionFromPath(chosen.constLast().toLocalFile());
}
