#include "frameeditor/KTEImagesController.h"

#include "app/AppDelegate.h"
#include "frameeditor/KTEDeleteKeyFilter.h"
#include "frameeditor/KTEImagesGroupModel.h"
#include "frameeditor/KTEImagesMimeData.h"
#include "frameeditor/KTFEWindowInterface.h"
#include "kit/VLLongProcess.h"
#include "platform/Dispatch.h"
#include "platform/TypeTable.h"
#include "platform/imaging/ImageDecoder.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "platform/objectstore/TextMatching.h"
#include "platform/ui/FilePanels.h"
#include "platform/ui/RevealInFileManager.h"
#include "stores/FrameImage.h"
#include "stores/LibraryModel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QImageReader>
#include <QItemSelectionModel>
#include <QListView>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QSplitter>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

using platform::ManagedObjectContext;

namespace {

constexpr int kThumbnailSide = 256;

// The picture fitted into a square tile, so that every item of the browser
// has the same size and its title the same place.
QImage makeThumbnail(const QString &path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QImage image;
    if (platform::ImageDecoder::readsRaster(reader)) {
        const QSize size = reader.size();
        if (size.isValid() && (size.width() > kThumbnailSide || size.height() > kThumbnailSide))
            reader.setScaledSize(size.scaled(kThumbnailSide, kThumbnailSide, Qt::KeepAspectRatio));
        image = reader.read();
    }
    if (image.isNull()) // PDF, Photoshop and HEIF files go through the program's own decoder
        image = platform::ImageDecoder::decodeFile(path).image;
    if (image.isNull())
        return image;
    image = image.scaled(kThumbnailSide, kThumbnailSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QImage tile(kThumbnailSide, kThumbnailSide, QImage::Format_ARGB32_Premultiplied);
    tile.fill(Qt::transparent);
    QPainter painter(&tile);
    painter.drawImage((kThumbnailSide - image.width()) / 2, (kThumbnailSide - image.height()) / 2, image);
    return tile;
}

} // namespace

KTEImagesController::KTEImagesController(KTFEWindowInterface *window, QObject *parent)
    : QObject(parent)
    , m_window(window)
{
    if (ManagedObjectContext *moc = context())
        connect(moc, &ManagedObjectContext::didSave, this, &KTEImagesController::noteSaved);
    loadImagesFromDB();
}

KTEImagesController::~KTEImagesController()
{
    m_thumbnailPool.clear();
    m_thumbnailPool.waitForDone();
    // The groups read this controller's items: they go first.
    for (Section &section : m_sections) {
        if (section.view)
            section.view->setModel(nullptr);
        delete section.model.data();
    }
}

ManagedObjectContext *KTEImagesController::context() const
{
    return m_window ? m_window->framesContext() : nullptr;
}

QStringList KTEImagesController::fileTypes()
{
    return {QString::fromLatin1(platform::TypeTable::kImage), QString::fromLatin1(platform::TypeTable::kPDF)};
}

bool KTEImagesController::acceptsFileType(const QString &path)
{
    const QString type = platform::TypeTable::typeForExtension(QFileInfo(path).suffix());
    if (type.isEmpty())
        return false;
    return type == QLatin1String(platform::TypeTable::kPDF)
           || platform::TypeTable::conformsTo(type, QString::fromLatin1(platform::TypeTable::kImage));
}

// ---- what is shown

QList<FrameImage *> KTEImagesController::arrangedObjects() const
{
    ManagedObjectContext *moc = context();
    if (!moc)
        return {};
    QList<FrameImage *> images = moc->fetchObjects<FrameImage>();
    if (!m_filterText.isEmpty())
        images.removeIf([this](FrameImage *image) {
            return !platform::TextMatching::containsCD(image->filename(), m_filterText);
        });
    const bool byUsage = m_groupByUsage;
    const bool byDate = m_sortByTimeAdded;
    std::stable_sort(images.begin(), images.end(), [byUsage, byDate](FrameImage *a, FrameImage *b) {
        if (byUsage) {
            // Every unused picture before every used one; uses count alike.
            const bool usedA = a->timesUsed() != 0;
            const bool usedB = b->timesUsed() != 0;
            if (usedA != usedB)
                return !usedA;
        }
        if (byDate)
            return a->dateAdded() > b->dateAdded(); // newest first
        return a->filename().toCaseFolded().localeAwareCompare(b->filename().toCaseFolded()) < 0;
    });
    return images;
}

void KTEImagesController::reloadImages()
{
    loadImagesFromDB();
}

void KTEImagesController::loadImagesFromDB()
{
    const QList<int> selected = selectionIndexes();
    QStringList selectedIDs;
    for (int i : selected)
        selectedIDs << m_images[size_t(i)].imageID();
    const QList<FrameImage *> arranged = arrangedObjects();
    m_images.clear();
    for (FrameImage *image : arranged)
        m_images.emplace_back(image);
    bool sameGroups = true;
    for (int g = 0; sameGroups && g < int(m_sections.size()); ++g) {
        const Group now = groupAtIndex(g);
        const KTEImagesGroupModel *model = m_sections[size_t(g)].model;
        sameGroups = model && model->first() == now.location && model->rowCount() == now.length;
    }
    // The same pictures in the same places keep the views as they are
    // (scrolled, selected): the window reloads whenever it comes to the front.
    if (sameGroups && arranged == m_shownObjects)
        return;
    m_shownObjects = arranged;
    updateSections();
    // The same pictures stay selected when they are still shown.
    QList<int> keep;
    for (int i = 0; i < int(m_images.size()); ++i)
        if (selectedIDs.contains(m_images[size_t(i)].imageID()))
            keep << i;
    setSelectionIndexes(keep);
}

void KTEImagesController::filterFrames(const QString &text)
{
    m_filterText = text;
    loadImagesFromDB();
}

void KTEImagesController::setZoom(double zoom)
{
    m_zoom = std::clamp(zoom, 0.0, 1.0);
    applyZoom();
}

void KTEImagesController::setGroupByUsage(bool flag)
{
    if (flag == m_groupByUsage)
        return;
    m_groupByUsage = flag;
    rebuildSections();
    loadImagesFromDB();
}

void KTEImagesController::setSortByTimeAdded(bool flag)
{
    if (flag == m_sortByTimeAdded)
        return;
    m_sortByTimeAdded = flag;
    loadImagesFromDB();
}

KTEImagesController::Group KTEImagesController::groupAtIndex(int index) const
{
    const int count = int(m_images.size());
    if (!m_groupByUsage)
        return {tr(kAllImagesTitle), 0, count};
    int firstUsed = count;
    for (int i = 0; i < count; ++i) {
        if (m_images[size_t(i)].frameImage()->timesUsed() != 0) {
            firstUsed = i;
            break;
        }
    }
    if (index == 0)
        return {tr(kUnusedTitle), 0, firstUsed};
    return {tr(kUsedTitle), firstUsed, count - firstUsed};
}

// ---- the browser's widgets

QWidget *KTEImagesController::browserView()
{
    if (m_browser)
        return m_browser;
    auto *browser = new QWidget;
    browser->setObjectName(QStringLiteral("imageBrowserView"));
    m_browser = browser;
    auto *layout = new QVBoxLayout(browser);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);

    auto *controls = new QHBoxLayout;
    auto *add = new QPushButton(tr("Add…"), browser);
    add->setObjectName(QStringLiteral("addImagesButton"));
    connect(add, &QPushButton::clicked, this, &KTEImagesController::addFrames);
    auto *remove = new QPushButton(tr("Remove"), browser);
    remove->setObjectName(QStringLiteral("removeImagesButton"));
    connect(remove, &QPushButton::clicked, this, &KTEImagesController::removeSelectedImages);
    m_removeButton = remove;
    auto *group = new QCheckBox(tr("Group by usage"), browser);
    group->setObjectName(QStringLiteral("groupByUsageCheckBox"));
    group->setChecked(m_groupByUsage);
    connect(group, &QCheckBox::toggled, this, &KTEImagesController::setGroupByUsage);
    auto *sort = new QComboBox(browser);
    sort->setObjectName(QStringLiteral("sortComboBox"));
    sort->addItems({tr("Sort by name"), tr("Sort by date added")});
    sort->setCurrentIndex(m_sortByTimeAdded ? 1 : 0);
    connect(sort, &QComboBox::currentIndexChanged, this, [this](int i) { setSortByTimeAdded(i == 1); });
    auto *zoom = new QSlider(Qt::Horizontal, browser);
    zoom->setObjectName(QStringLiteral("zoomSlider"));
    zoom->setRange(0, 100);
    zoom->setValue(int(m_zoom * 100));
    zoom->setMaximumWidth(120);
    connect(zoom, &QSlider::valueChanged, this, [this](int v) { setZoom(v / 100.0); });
    controls->addWidget(add);
    controls->addWidget(remove);
    controls->addStretch(1);
    controls->addWidget(group);
    controls->addWidget(sort);
    controls->addWidget(zoom);
    layout->addLayout(controls);

    auto *sections = new QVBoxLayout;
    sections->setContentsMargins(0, 0, 0, 0);
    sections->setSpacing(0);
    m_sectionsLayout = sections;
    layout->addLayout(sections, 1);
    rebuildSections();
    updateSections();
    return browser;
}

void KTEImagesController::rebuildSections()
{
    if (!m_browser || !m_sectionsLayout)
        return;
    for (Section &section : m_sections) {
        delete section.header.data();
        delete section.view.data();
        delete section.model.data();
    }
    m_sections.clear();
    for (int g = 0; g < numberOfGroups(); ++g) {
        Section section;
        section.header = new QToolButton(m_browser);
        section.header->setCheckable(true);
        section.header->setChecked(true);
        section.header->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        section.header->setArrowType(Qt::DownArrow);
        section.header->setAutoRaise(true);
        section.model = new KTEImagesGroupModel(this, this);
        auto *view = new QListView(m_browser);
        view->setObjectName(QStringLiteral("imagesGroupView%1").arg(g));
        view->setViewMode(QListView::IconMode);
        view->setResizeMode(QListView::Adjust);
        view->setMovement(QListView::Static);
        view->setWrapping(true);
        view->setWordWrap(false);
        view->setTextElideMode(Qt::ElideMiddle);
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setDragEnabled(true);
        view->setAcceptDrops(true);
        view->setDropIndicatorShown(false);
        view->setDragDropMode(QAbstractItemView::DragDrop);
        view->setDefaultDropAction(Qt::CopyAction);
        view->setModel(section.model);
        new KTEDeleteKeyFilter([this] { removeSelectedImages(); }, view);
        QPalette palette = view->palette();
        palette.setColor(QPalette::Base, QColor(128, 128, 128));
        view->setPalette(palette);
        section.view = view;
        connect(view, &QAbstractItemView::doubleClicked, this, [this, g](const QModelIndex &index) {
            const int first = m_sections[size_t(g)].model ? m_sections[size_t(g)].model->first() : 0;
            imageDoubleClickedAtIndex(first + index.row());
        });
        QToolButton *header = section.header;
        connect(header, &QToolButton::toggled, view, [header, view](bool open) {
            header->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
            view->setVisible(open);
        });
        // One selection over all groups: a plain click in one group clears the others.
        connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                [this, view](const QItemSelection &selected) {
                    updateRemoveButton();
                    if (selected.isEmpty()
                        || (QGuiApplication::keyboardModifiers() & (Qt::ControlModifier | Qt::ShiftModifier)))
                        return;
                    for (Section &other : m_sections)
                        if (other.view && other.view != view)
                            other.view->clearSelection();
                });
        m_sectionsLayout->addWidget(section.header);
        m_sectionsLayout->addWidget(view, 1);
        m_sections.push_back(section);
    }
    applyZoom();
}

void KTEImagesController::updateSections()
{
    for (int g = 0; g < int(m_sections.size()); ++g) {
        if (!m_sections[size_t(g)].view || !m_sections[size_t(g)].model)
            continue; // the window is gone
        const Group group = groupAtIndex(g);
        m_sections[size_t(g)].header->setText(QStringLiteral("%1 (%2)").arg(group.title).arg(group.length));
        m_sections[size_t(g)].model->setRange(group.location, group.length);
        // A group takes room by how many pictures it shows.
        if (m_sectionsLayout)
            m_sectionsLayout->setStretchFactor(m_sections[size_t(g)].view, std::max(1, group.length));
    }
    updateRemoveButton();
}

void KTEImagesController::updateRemoveButton()
{
    if (m_removeButton)
        m_removeButton->setEnabled(!selectionIndexes().isEmpty());
}

void KTEImagesController::applyZoom()
{
    const int side = 48 + int(m_zoom * 160);
    for (Section &section : m_sections) {
        if (!section.view)
            continue;
        section.view->setIconSize(QSize(side, side));
        section.view->setGridSize(QSize(side + 24, side + 28));
    }
}

QList<int> KTEImagesController::selectionIndexes() const
{
    QList<int> indexes;
    for (const Section &section : m_sections)
        for (const QModelIndex &index : section.view ? section.view->selectionModel()->selectedIndexes() : QModelIndexList())
            indexes << section.model->first() + index.row();
    std::sort(indexes.begin(), indexes.end());
    return indexes;
}

void KTEImagesController::setSelectionIndexes(const QList<int> &indexes)
{
    for (Section &section : m_sections) {
        if (!section.view || !section.model)
            continue;
        QItemSelection selection;
        for (int i : indexes) {
            const int row = i - section.model->first();
            if (row >= 0 && row < section.model->rowCount())
                selection.select(section.model->index(row), section.model->index(row));
        }
        section.view->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    }
    updateRemoveButton();
}

void KTEImagesController::selectFrameImage(FrameImage *image)
{
    for (int i = 0; i < int(m_images.size()); ++i) {
        if (m_images[size_t(i)].frameImage() != image)
            continue;
        setSelectionIndexes({i});
        for (Section &section : m_sections) {
            if (!section.view || !section.model)
                continue;
            const int row = i - section.model->first();
            if (row >= 0 && row < section.model->rowCount())
                section.view->scrollTo(section.model->index(row));
        }
        return;
    }
}

void KTEImagesController::imageDoubleClickedAtIndex(int index)
{
    // Only the administration tool's users look at the graphics files themselves.
    AppDelegate *delegate = AppDelegate::shared();
    if (!delegate || !delegate->hasAdminController() || index < 0 || index >= int(m_images.size()))
        return;
    const QString path = m_images[size_t(index)].imagePath();
    if (!path.isEmpty())
        platform::revealInFileManager(QUrl::fromLocalFile(path));
}

// ---- thumbnails

QPixmap KTEImagesController::thumbnailFor(const KTEImageItem &item)
{
    const auto found = m_thumbnails.constFind(item.imageID());
    if (found != m_thumbnails.constEnd())
        return *found;
    if (item.imagePath().isEmpty() || m_thumbnailsInWork.contains(item.imageID()))
        return placeholderThumbnail();
    m_thumbnailsInWork.insert(item.imageID());
    const QString id = item.imageID();
    const QString path = item.imagePath();
    m_thumbnailPool.start([this, id, path] {
        QImage thumbnail = makeThumbnail(path);
        QMetaObject::invokeMethod(this, [this, id, thumbnail] {
            m_thumbnailsInWork.remove(id);
            // A file that can't be read shows an empty tile, asked for once.
            m_thumbnails.insert(id, thumbnail.isNull() ? placeholderThumbnail() : QPixmap::fromImage(thumbnail));
            for (Section &section : m_sections)
                if (section.model)
                    section.model->thumbnailReady(id);
            emit thumbnailMade(id);
        }, Qt::QueuedConnection);
    });
    return placeholderThumbnail();
}

QPixmap KTEImagesController::placeholderThumbnail()
{
    static const QPixmap tile = [] {
        QImage image(kThumbnailSide, kThumbnailSide, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setPen(QPen(QColor(170, 170, 170), 4, Qt::DashLine));
        painter.drawRect(QRectF(image.rect()).adjusted(24, 24, -24, -24));
        return QPixmap::fromImage(image);
    }();
    return tile;
}

// ---- adding

void KTEImagesController::addFrames()
{
    platform::OpenPanelRequest request;
    request.title = tr("Add Frame Graphics");
    request.allowedTypes = fileTypes();
    request.nameFilters = {tr("Pictures") + QLatin1Char(' ') + platform::fileDialogFilter(fileTypes())};
    request.allowsMultipleSelection = true;
    request.parent = m_browser ? m_browser->window() : nullptr;
    QStringList paths;
    for (const QUrl &url : platform::runOpenPanel(request))
        if (url.isLocalFile())
            paths << url.toLocalFile();
    if (!paths.isEmpty())
        addImagesFromPathsArray(paths);
}

void KTEImagesController::addImagesFromPathsArray(const QStringList &paths)
{
    ManagedObjectContext *moc = context();
    if (paths.isEmpty() || !moc) {
        emit imagesAdded(0);
        return;
    }
    struct Run {
        QStringList added;
    };
    auto run = std::make_shared<Run>();
    auto process = std::make_shared<VLLongProcess>();
    process->setTotalCount(paths.size());
    process->setWindowTitle(tr(kCopyingTitle));
    process->setProgressStringFormat(tr(kCopyingFormat));
    QPointer<KTEImagesController> self(this);
    QPointer<ManagedObjectContext> target(moc);
    process->setProcessFinishedBlock([self, run] {
        if (!self)
            return;
        if (!run->added.isEmpty())
            self->loadImagesFromDB();
        emit self->imagesAdded(int(run->added.size()));
    });
    process->runInBackground([process, self, target, run, paths] {
        // All pictures of one addition are one step of undo.
        QPointer<platform::UndoManager> undo;
        platform::runOnMainThread(
            [&] {
                undo = target ? target->undoManager() : nullptr;
                if (undo)
                    undo->beginUndoGrouping();
            },
            true);
        qint64 n = 0;
        for (const QString &path : paths) {
            process->setProgressCount(++n);
            if (!acceptsFileType(path) || platform::ImageDecoder::decodeFile(path).image.isNull())
                continue;
            platform::runOnMainThread(
                [&] {
                    if (!self || !target)
                        return;
                    if (FrameImage *image = FrameImage::frameImageFromImageAtPath(path, target))
                        run->added << image->imagePath();
                },
                true);
        }
        platform::runOnMainThread(
            [&] {
                if (!undo)
                    return;
                if (self && !run->added.isEmpty()) {
                    // Undoing the addition leaves the copied files to be deleted.
                    const QStringList added = run->added;
                    undo->registerUndo([self, added] {
                        if (self)
                            self->scheduleRemovals(added);
                    });
                }
                undo->endUndoGrouping();
            },
            true);
    });
}

// ---- removing

void KTEImagesController::removeSelectedImages()
{
    removeImagesAtIndexes(selectionIndexes());
}

void KTEImagesController::removeImagesAtIndexes(QList<int> indexes)
{
    ManagedObjectContext *moc = context();
    indexes.removeIf([this](int i) { return i < 0 || i >= int(m_images.size()); });
    if (indexes.isEmpty() || !moc)
        return;
    QList<FrameImage *> images;
    QStringList paths;
    for (int i : indexes) {
        FrameImage *image = m_images[size_t(i)].frameImage();
        if (images.contains(image))
            continue;
        images << image;
        if (!m_images[size_t(i)].imagePath().isEmpty())
            paths << m_images[size_t(i)].imagePath();
    }
    scheduleRemovals(paths);
    for (FrameImage *image : images)
        moc->deleteObject(image);
    loadImagesFromDB();
    emit imagesRemoved();
}

void KTEImagesController::scheduleRemovals(const QStringList &paths)
{
    for (const QString &path : paths)
        m_imagesToDeleteOnExit.insert(path);
    ManagedObjectContext *moc = context();
    if (platform::UndoManager *undo = moc ? moc->undoManager() : nullptr) {
        QPointer<KTEImagesController> self(this);
        undo->registerUndo([self, paths] {
            if (self)
                self->forgetRemovals(paths);
        });
    }
}

void KTEImagesController::forgetRemovals(const QStringList &paths)
{
    for (const QString &path : paths) {
        m_imagesToDeleteOnExit.remove(path);
        m_savedRemovals.remove(path);
    }
    ManagedObjectContext *moc = context();
    if (platform::UndoManager *undo = moc ? moc->undoManager() : nullptr) {
        QPointer<KTEImagesController> self(this);
        undo->registerUndo([self, paths] {
            if (self)
                self->scheduleRemovals(paths);
        });
    }
}

namespace {

// Whether a record still names the file (its removal undone, or another
// record of the same GUID).
bool fileStillUsed(ManagedObjectContext *moc, const QString &path)
{
    if (!moc)
        return true;
    const QString name = QFileInfo(path).fileName();
    return !moc->fetchObjects<FrameImage>(LibraryModel::guidEquals(name)(), {}, 1).isEmpty();
}

} // namespace

void KTEImagesController::noteSaved()
{
    ManagedObjectContext *moc = context();
    for (const QString &path : std::as_const(m_imagesToDeleteOnExit))
        if (!fileStillUsed(moc, path))
            m_savedRemovals.insert(path);
}

void KTEImagesController::deleteRemovedFrameImages()
{
    ManagedObjectContext *moc = context();
    const bool unsaved = !moc || moc->hasChanges();
    const QString graphics = FrameImage::imagesFolder(moc);
    const QString folder = graphics.isEmpty() ? QString() : QDir(graphics).absolutePath();
    for (const QString &path : std::as_const(m_imagesToDeleteOnExit)) {
        // A removal the store never got keeps its file: the record is still there.
        if (unsaved && !m_savedRemovals.contains(path))
            continue;
        if (fileStillUsed(moc, path))
            continue;
        const QFileInfo file(path);
        if (folder.isEmpty() || file.absolutePath() != folder || !platform::isSafeFileName(file.fileName()))
            continue;
        QFile::remove(path);
    }
    m_imagesToDeleteOnExit.clear();
    m_savedRemovals.clear();
}

// ---- drags and drops

QMimeData *KTEImagesController::mimeDataForIndexes(const QList<int> &indexes) const
{
    QList<int> sorted = indexes;
    std::sort(sorted.begin(), sorted.end());
    QStringList guids;
    for (int i : sorted)
        if (i >= 0 && i < int(m_images.size()))
            guids << m_images[size_t(i)].imageID();
    if (guids.isEmpty())
        return nullptr;
    return new KTEImagesMimeData(guids);
}

bool KTEImagesController::allowDrop(const QMimeData *data) const
{
    if (!data || qobject_cast<const KTEImagesMimeData *>(data) || !data->hasUrls())
        return false;
    for (const QUrl &url : data->urls())
        if (url.isLocalFile() && acceptsFileType(url.toLocalFile()))
            return true;
    return false;
}

bool KTEImagesController::performDrop(const QMimeData *data)
{
    if (!allowDrop(data))
        return false;
    QStringList paths;
    for (const QUrl &url : data->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    addImagesFromPathsArray(paths);
    return true;
}
