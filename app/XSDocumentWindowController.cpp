#include "app/XSDocumentWindowController.h"

#include "app/KTDesignBrowserInterface.h"
#include "app/KTDesignCanvasInterface.h"
#include "app/KTMainLayoutViewController.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/WindowPlacement.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QTimer>

// Sees every key event of the application and announces the modifier keys
// pressed or released in one window, once per change.
class ModifierKeyWatcher : public QObject
{
public:
    ModifierKeyWatcher(QWidget *window, QObject *parent)
        : QObject(parent)
        , m_window(window)
    {
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if ((type != QEvent::KeyPress && type != QEvent::KeyRelease) || !watched->isWidgetType() || !m_window)
            return false;
        auto *key = static_cast<QKeyEvent *>(event);
        const int k = key->key();
        const bool modifier = k == Qt::Key_Shift || k == Qt::Key_Control || k == Qt::Key_Alt || k == Qt::Key_Meta
            || k == Qt::Key_AltGr;
        if (!modifier || key->isAutoRepeat() || static_cast<QWidget *>(watched)->window() != m_window)
            return false;
        // An unhandled key event travels up the parents; it counts once,
        // where it starts: the focus widget, else the window itself.
        QWidget *focus = QApplication::focusWidget();
        const QWidget *start = focus && focus->window() == m_window ? focus : m_window.data();
        if (watched != start)
            return false;
        // Some deliveries hand the same event to the window twice.
        const Seen seen{key, type, key->timestamp()};
        if (seen == m_lastSeen)
            return false;
        m_lastSeen = seen;
        platform::NotificationCenter::defaultCenter().post(
            QString::fromLatin1(XSDocumentWindowController::kFlagsChangedNotification), key);
        return false;
    }

private:
    struct Seen {
        const QKeyEvent *event = nullptr;
        QEvent::Type type = QEvent::None;
        quint64 timestamp = 0;
        bool operator==(const Seen &) const = default;
    };
    QPointer<QWidget> m_window;
    Seen m_lastSeen;
};

namespace {
// The document window the user worked in last: its frame is the one kept at quit.
QPointer<QWidget> g_lastActiveWindow;
} // namespace

XSDocumentWindowController::XSDocumentWindowController(QObject *parent)
    : platform::WindowController(QString::fromLatin1(kWindowNibName), parent)
{
    // A drag or resize sends many events: the frame is kept once it rests.
    m_saveFrameTimer = new QTimer(this);
    m_saveFrameTimer->setSingleShot(true);
    m_saveFrameTimer->setInterval(kSaveFrameDelayMs);
    connect(m_saveFrameTimer, &QTimer::timeout, this, &XSDocumentWindowController::saveWindowFrame);
    if (platform::Application *application = platform::Application::shared()) {
        connect(application, &platform::Application::willTerminate, this, [this] {
            if (m_saveFrameTimer->isActive() || (isWindowLoaded() && window() == g_lastActiveWindow))
                saveWindowFrame();
        });
    }
}

XSDocumentWindowController::~XSDocumentWindowController() = default;

std::function<void(XSDocumentWindowController *)> &XSDocumentWindowController::windowDidLoadHook()
{
    static std::function<void(XSDocumentWindowController *)> hook;
    return hook;
}

void XSDocumentWindowController::setWindowDidLoadHook(std::function<void(XSDocumentWindowController *)> hook)
{
    windowDidLoadHook() = std::move(hook);
}

XSDocumentWindowController *XSDocumentWindowController::defaultController()
{
    return new XSDocumentWindowController;
}

KTDesignDocumentInterface *XSDocumentWindowController::designDocument() const
{
    return KTDesignDocumentInterface::ofWindowController(this);
}

QString XSDocumentWindowController::frameAutosaveKey()
{
    return QStringLiteral("WindowFrame %1").arg(QLatin1String(kFrameAutosaveName));
}

QWidget *XSDocumentWindowController::loadWindow()
{
    auto *window = new QMainWindow;
    window->setObjectName(windowNibName());
    window->resize(1200, 860);
    return window;
}

void XSDocumentWindowController::windowDidLoad()
{
    auto *window = static_cast<QMainWindow *>(this->window());
    KTDesignDocumentInterface *doc = designDocument();

    // The layout controller is known before its view is first built; building
    // it makes the canvas, whose palette controller registers itself here.
    m_mainLayoutViewController = new KTMainLayoutViewController(
        QString::fromLatin1(KTMainLayoutViewController::kNibName), this, this);
    if (doc)
        m_mainLayoutViewController->setRepresentedObject(QVariant::fromValue(document()));
    setContentViewController(m_mainLayoutViewController);
    m_mainLayoutViewController->setLayersPaletteController(layersPaletteController());
    if (doc)
        m_mainLayoutViewController->setDocTemplate(doc->docTemplate());
    m_mainLayoutViewController->stage2Setup();

    if (doc)
        doc->windowControllerDidLoadNib(this);

    window->setMinimumSize(kMinimumWidth, kMinimumHeight);
    // All document windows share one saved frame; a window that would open
    // right on top of another one moves down a title bar instead.
    const QByteArray frame = platform::UserDefaults::standard().dataForKey(frameAutosaveKey());
    if (!frame.isEmpty())
        window->restoreGeometry(frame);
    else
        platform::placeWindowOnScreen(window); // the first time: whole on a small screen too
    QList<QWidget *> others;
    for (QWidget *each : QApplication::topLevelWidgets()) {
        if (each != window && each->objectName() == window->objectName())
            others.append(each);
    }
    platform::cascadeFromWindows(window, others);
    m_modifierWatcher = new ModifierKeyWatcher(window, this);
    qApp->installEventFilter(m_modifierWatcher);
    if (windowDidLoadHook())
        windowDidLoadHook()(this);
}

void XSDocumentWindowController::showFrameInLibrary(Frame *frame)
{
    if (m_mainLayoutViewController)
        m_mainLayoutViewController->mainSplitViewController()->showFrameInLibrary(frame);
}

void XSDocumentWindowController::showItemInLibrary(LibraryItem *item)
{
    if (m_mainLayoutViewController)
        m_mainLayoutViewController->mainSplitViewController()->showItemInLibrary(item);
}

void XSDocumentWindowController::windowWillClose()
{
    if (m_mainLayoutViewController) {
        if (QWidget *w = window())
            w->setFocus(Qt::OtherFocusReason); // ends any text editing
        KTMainSplitViewController *split = m_mainLayoutViewController->mainSplitViewController();
        if (auto *canvas = dynamic_cast<KTDesignCanvasInterface *>(split->designViewController()))
            canvas->removeAllTrackingAreas();
        if (auto *templates = dynamic_cast<KTDesignBrowserInterface *>(split->templatesViewController()))
            templates->emptyTemplates();
    }
    saveWindowFrame();
}

void XSDocumentWindowController::saveWindowFrame()
{
    m_saveFrameTimer->stop();
    QWidget *w = isWindowLoaded() ? window() : nullptr;
    if (w && w->isVisible() && !w->isMinimized())
        platform::UserDefaults::standard().setObject(frameAutosaveKey(), w->saveGeometry());
}

bool XSDocumentWindowController::eventFilter(QObject *watched, QEvent *event)
{
    if (isWindowLoaded() && watched == window()) {
        switch (event->type()) {
        case QEvent::Show:
            m_shown = true;
            break;
        case QEvent::WindowActivate:
            g_lastActiveWindow = window();
            break;
        case QEvent::Move:
        case QEvent::Resize:
            // Placing the window before it shows is ours, not the user's.
            if (m_shown && window()->isVisible())
                m_saveFrameTimer->start();
            break;
        default:
            break;
        }
    }
    return platform::WindowController::eventFilter(watched, event);
}
