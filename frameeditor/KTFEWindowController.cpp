#include "frameeditor/KTFEWindowController.h"

#include "app/KTMainMenu.h"
#include "frameeditor/KTEAttributesController.h"
#include "frameeditor/KTEImagesController.h"
#include "frameeditor/KTEOutlineController.h"
#include "frameeditor/KTEOutlineModel.h"
#include "platform/UserDefaults.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "platform/objectstore/UndoManager.h"
#include "stores/Frame.h"
#include "stores/FrameCollection.h"
#include "stores/FrameSet.h"
#include "stores/FrameType.h"
#include "platform/ui/WindowPlacement.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QSplitter>
#include <QTableView>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString frameAutosaveKey()
{
    return QStringLiteral("WindowFrame %1").arg(QLatin1String(KTFEWindowController::kAutosaveName));
}

// Stands where a pane goes until the window has it.
QWidget *paneArea(const QString &name)
{
    auto *area = new QWidget;
    area->setObjectName(name);
    auto *layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);
    return area;
}

} // namespace

KTFEWindowController::KTFEWindowController(platform::ManagedObjectContext *framesContext, QObject *parent)
    : platform::WindowController(QString::fromLatin1(kWindowName), parent)
    , m_framesContext(framesContext)
    , m_outlineController(new KTEOutlineController(this, this))
    , m_attributesController(new KTEAttributesController(this, this))
    , m_imagesController(new KTEImagesController(this, this))
{
    connect(m_imagesController, &KTEImagesController::imagesRemoved, m_attributesController,
            &KTEAttributesController::refresh);
    if (platform::UndoManager *undo = m_framesContext ? m_framesContext->undoManager() : nullptr) {
        connect(undo, &platform::UndoManager::didUndo, this, &KTFEWindowController::didUndoOrRedo);
        connect(undo, &platform::UndoManager::didRedo, this, &KTFEWindowController::didUndoOrRedo);
        connect(undo, &platform::UndoManager::checkpoint, this, &KTFEWindowController::updateUndoActions);
    }
}

KTFEWindowController::~KTFEWindowController()
{
    // The panes go while the window still holds their views.
    delete m_imagesController;
    delete m_attributesController;
    delete m_outlineController;
}

QWidget *KTFEWindowController::loadWindow()
{
    auto *window = new QMainWindow;
    window->setObjectName(QString::fromLatin1(kWindowName));
    window->setWindowTitle(tr(kTitle));
    // The first size fits a small screen too, in its middle so no edge is
    // off it; later the saved frame wins.
    platform::placeWindowOnScreen(window, QSize(1100, 720));

    QMenu *edit = window->menuBar()->addMenu(tr("&Edit"));
    m_undoAction = edit->addAction(tr("&Undo"));
    m_undoAction->setObjectName(QStringLiteral("undoAction"));
    m_undoAction->setShortcut(QKeySequence::Undo);
    connect(m_undoAction, &QAction::triggered, this, [this] {
        if (platform::UndoManager *undo = m_framesContext ? m_framesContext->undoManager() : nullptr)
            undo->undo();
    });
    m_redoAction = edit->addAction(tr("&Redo"));
    m_redoAction->setObjectName(QStringLiteral("redoAction"));
    m_redoAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    connect(m_redoAction, &QAction::triggered, this, [this] {
        if (platform::UndoManager *undo = m_framesContext ? m_framesContext->undoManager() : nullptr)
            undo->redo();
    });
    // The application's File, Window and Help menus around the editor's Edit.
    KTMainMenu::installForWindow(window);

    auto *split = new QSplitter(Qt::Horizontal);
    split->setObjectName(QStringLiteral("frameEditorSplit"));
    split->setChildrenCollapsible(false);
    QWidget *outline = m_outlineController->view();
    outline->setMinimumWidth(200);
    split->addWidget(outline);

    auto *right = new QSplitter(Qt::Vertical);
    right->setChildrenCollapsible(false);
    auto *top = new QSplitter(Qt::Horizontal);
    top->setChildrenCollapsible(false);

    auto *details = new QWidget;
    auto *detailsLayout = new QVBoxLayout(details);
    detailsLayout->setContentsMargins(0, 0, 0, 0);
    m_frameTypeRow = new QWidget;
    auto *typeLayout = new QHBoxLayout(m_frameTypeRow);
    typeLayout->setContentsMargins(0, 0, 0, 0);
    typeLayout->addWidget(new QLabel(tr("Frame type:")));
    m_frameTypePopUp = new QComboBox;
    m_frameTypePopUp->setObjectName(QStringLiteral("frameTypePopUpButton"));
    typeLayout->addWidget(m_frameTypePopUp, 1);
    m_frameTypeRow->hide();
    detailsLayout->addWidget(m_frameTypeRow);
    m_attributesArea = paneArea(QStringLiteral("attributesArea"));
    m_attributesArea->setMinimumWidth(280);
    m_attributesArea->layout()->addWidget(m_attributesController->attributesTableView());
    detailsLayout->addWidget(m_attributesArea, 1);
    top->addWidget(details);

    m_previewView = new KTFEPreviewView;
    m_previewView->setMinimumSize(240, 200);
    top->addWidget(m_previewView);
    top->setStretchFactor(0, 1);
    top->setStretchFactor(1, 1);
    right->addWidget(top);

    auto *images = new QWidget;
    auto *imagesLayout = new QVBoxLayout(images);
    imagesLayout->setContentsMargins(0, 0, 0, 0);
    m_imagesSearchField = new QLineEdit;
    m_imagesSearchField->setObjectName(QStringLiteral("imagesSearchField"));
    m_imagesSearchField->setPlaceholderText(tr("Search graphics"));
    m_imagesSearchField->setClearButtonEnabled(true);
    imagesLayout->addWidget(m_imagesSearchField);
    m_imagesArea = paneArea(QStringLiteral("imagesArea"));
    m_imagesArea->setMinimumHeight(160);
    m_imagesArea->layout()->addWidget(m_imagesController->browserView());
    connect(m_imagesSearchField, &QLineEdit::textChanged, m_imagesController, &KTEImagesController::filterFrames);
    imagesLayout->addWidget(m_imagesArea, 1);
    right->addWidget(images);
    right->setStretchFactor(0, 3);
    right->setStretchFactor(1, 2);

    split->addWidget(right);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({280, 820});
    window->setCentralWidget(split);

    const QByteArray frame = platform::UserDefaults::standard().dataForKey(frameAutosaveKey());
    if (!frame.isEmpty())
        window->restoreGeometry(frame);
    return window;
}

void KTFEWindowController::windowDidLoad()
{
    reloadFrameTypes();
    connect(m_frameTypePopUp, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < m_frameTypes.size())
            setSelectedFrameType(m_frameTypes.at(index));
        m_attributesController->changeFrameType();
    });
    m_outlineController->reloadFromDB();
    updateUndoActions();
}

void KTFEWindowController::windowWillClose()
{
    if (QWidget *w = isWindowLoaded() ? window() : nullptr)
        platform::UserDefaults::standard().setObject(frameAutosaveKey(), w->saveGeometry());
}

bool KTFEWindowController::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::WindowActivate && isWindowLoaded() && watched == window())
        windowDidBecomeKey();
    return platform::WindowController::eventFilter(watched, event);
}

void KTFEWindowController::windowDidBecomeKey()
{
    // Another window may have changed the library meanwhile; a rename under
    // way is left alone.
    KTEOutlineView *outline = m_outlineController->outlineView();
    if (outline && outline->isEditing())
        return;
    reloadFrameTypes();
    m_imagesController->reloadImages();
    m_outlineController->reloadFromDB();
}

void KTFEWindowController::reloadFrameTypes()
{
    if (!m_frameTypePopUp || !m_framesContext)
        return;
    FrameType *selected = selectedFrameType();
    m_frameTypes = m_framesContext->fetchObjects<FrameType>();
    std::stable_sort(m_frameTypes.begin(), m_frameTypes.end(), [](const FrameType *a, const FrameType *b) {
        return a->name().compare(b->name(), Qt::CaseInsensitive) < 0;
    });
    const QSignalBlocker block(m_frameTypePopUp);
    m_frameTypePopUp->clear();
    for (FrameType *type : std::as_const(m_frameTypes))
        m_frameTypePopUp->addItem(type->name());
    const qsizetype index = m_frameTypes.indexOf(selected);
    m_frameTypePopUp->setCurrentIndex(index >= 0 ? int(index) : int(m_frameTypes.size()) - 1);
}

FrameType *KTFEWindowController::selectedFrameType() const
{
    if (!m_frameTypePopUp)
        return nullptr;
    const int index = m_frameTypePopUp->currentIndex();
    FrameType *type = index >= 0 && index < m_frameTypes.size() ? m_frameTypes.at(index) : nullptr;
    return type && !type->isDeleted() ? type : nullptr;
}

void KTFEWindowController::setSelectedFrameType(FrameType *type)
{
    window();
    qsizetype index = m_frameTypes.indexOf(type);
    if (index < 0 && type) {
        reloadFrameTypes();
        index = m_frameTypes.indexOf(type);
    }
    if (index < 0)
        return;
    const QSignalBlocker block(m_frameTypePopUp);
    m_frameTypePopUp->setCurrentIndex(int(index));
}

void KTFEWindowController::displayCollection(FrameCollection *collection)
{
    if (m_frameTypeRow)
        m_frameTypeRow->hide();
    m_attributesController->showAttributesFor(collection);
}

void KTFEWindowController::displaySet(FrameSet *set)
{
    if (m_frameTypeRow)
        m_frameTypeRow->hide();
    m_attributesController->showAttributesFor(set);
}

void KTFEWindowController::displayNothing()
{
    if (m_frameTypeRow)
        m_frameTypeRow->hide();
    m_attributesController->showAttributesFor(nullptr);
}

void KTFEWindowController::displayFrame(Frame *frame)
{
    if (m_frameTypeRow)
        m_frameTypeRow->show();
    if (frame)
        setSelectedFrameType(frame->frametype());
    m_attributesController->showAttributesFor(frame);
    displayPreviewWithFrame(frame);
}

void KTFEWindowController::displayPreviewWithFrame(Frame *frame)
{
    if (m_previewView)
        m_previewView->displayPreviewWithFrame(frame);
}

void KTFEWindowController::displayObject(LibraryItem *item)
{
    window();
    m_outlineController->collapseAll();
    if (auto *frame = dynamic_cast<Frame *>(item)) {
        if (FrameSet *set = frame->frameset()) {
            if (FrameCollection *collection = set->framecollection())
                m_outlineController->expandItem(collection);
            m_outlineController->expandItem(set);
        }
    } else if (auto *set = dynamic_cast<FrameSet *>(item)) {
        if (FrameCollection *collection = set->framecollection())
            m_outlineController->expandItem(collection);
    }
    m_outlineController->selectItem(item);
}

void KTFEWindowController::cleanupBeforeTermination()
{
    // Quitting with the window open keeps where it was, as closing it does.
    if (isWindowLoaded() && window() && window()->isVisible())
        windowWillClose();
    m_imagesController->deleteRemovedFrameImages();
}

Frame *KTFEWindowController::selectedFrame() const
{
    return dynamic_cast<Frame *>(m_outlineController->selectedItem());
}

void KTFEWindowController::didUndoOrRedo()
{
    // Not inside the undo: the context finishes its work first.
    QMetaObject::invokeMethod(this, [this] {
        reloadFrameTypes();
        m_imagesController->reloadImages();
        m_attributesController->refresh();
        m_outlineController->reloadFromDB();
        if (Frame *frame = selectedFrame())
            displayPreviewWithFrame(frame);
    }, Qt::QueuedConnection);
}

void KTFEWindowController::updateUndoActions()
{
    platform::UndoManager *undo = m_framesContext ? m_framesContext->undoManager() : nullptr;
    if (m_undoAction)
        m_undoAction->setEnabled(undo && undo->canUndo());
    if (m_redoAction)
        m_redoAction->setEnabled(undo && undo->canRedo());
}
