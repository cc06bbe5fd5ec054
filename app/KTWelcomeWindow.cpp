#include "app/KTWelcomeWindow.h"

#include "app/KTApplicationShortcuts.h"
#include "app/KTDesignDocumentInterface.h"
#include "design/KTPreferenceKeys.h"
#include "app/KTWebAddresses.h"
#include "kit/VLKitUtils.h"
#include "kit/VLWAnalytics.h"
#include "platform/Assert.h"
#include "platform/UserDefaults.h"
#include "platform/ui/Document.h"
#include "platform/ui/DocumentController.h"
#include "platform/ui/WindowPlacement.h"

#include <QApplication>
#include <QCheckBox>
#include <QDate>
#include <QGridLayout>
#include <QUrlQuery>
#include <QWindow>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>

namespace {
constexpr int kProgressSteps = 1000; // the bar runs 0..1 in these steps
constexpr int kButtonColumnWidth = 240;
constexpr int kLaunchSettleMs = 150;

// The document the user works in: the current one, else the last opened.
platform::Document *frontDocument()
{
    platform::DocumentController *documents = platform::DocumentController::sharedDocumentController(false);
    platform::Document *document = documents ? documents->currentDocument() : nullptr;
    if (!document && documents && !documents->documents().isEmpty())
        document = documents->documents().constLast();
    return document;
}

bool showsStartupPicture(platform::Document *document)
{
    KTDesignDocumentInterface *design = KTDesignDocumentInterface::fromObject(document);
    return design && design->isDefaultImage();
}

// Tells once of the user's first click or key press anywhere, then goes.
class FirstInputWatcher : public QObject
{
public:
    explicit FirstInputWatcher(std::function<void()> onInput)
        : m_onInput(std::move(onInput))
    {
    }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (m_onInput && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::KeyPress)) {
            std::exchange(m_onInput, nullptr)();
            deleteLater();
        }
        return false;
    }

private:
    std::function<void()> m_onInput;
};

platform::Document *documentOfWindow(const QWidget *window)
{
    platform::DocumentController *documents = platform::DocumentController::sharedDocumentController(false);
    for (platform::Document *document : documents ? documents->documents() : QList<platform::Document *>()) {
        if (document->windowForSheet() == window)
            return document;
    }
    return nullptr;
}
} // namespace

KTWelcomeWindow::KTWelcomeWindow(QObject *parent)
    : platform::WindowController(QStringLiteral("KTWelcomeWindow"), parent)
{
}

KTWelcomeWindow::~KTWelcomeWindow() = default;

QWidget *KTWelcomeWindow::loadWindow()
{
    // A window of its own until it belongs to the start-up document's window.
    auto *window = new QWidget(nullptr, Qt::Window);
    window->setObjectName(windowNibName());
    window->setWindowTitle(QStringLiteral("Welcome to Kantelo"));
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(32, 28, 32, 24);
    layout->setSpacing(10);

    auto *title = new QLabel(QStringLiteral("Kantelo"), window);
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 2.2);
    big.setBold(true);
    title->setFont(big);
    title->setAlignment(Qt::AlignHCenter);
    layout->addWidget(title);

    m_versionLabel = new QLabel(window);
    m_versionLabel->setObjectName(QStringLiteral("versionLabel"));
    m_versionLabel->setAlignment(Qt::AlignHCenter);
    layout->addWidget(m_versionLabel);

    m_copyrightLabel = new QLabel(QString::fromUtf8(kCopyrightTemplate), window);
    m_copyrightLabel->setObjectName(QStringLiteral("copyrightLabel"));
    m_copyrightLabel->setAlignment(Qt::AlignHCenter);
    layout->addWidget(m_copyrightLabel);

    layout->addSpacing(16);
    auto *buttons = new QGridLayout;
    buttons->setSpacing(8);
    layout->addLayout(buttons);
    int index = 0;
    auto button = [&](const QString &title, const char *name, void (KTWelcomeWindow::*action)()) {
        auto *b = new QPushButton(title, window);
        b->setObjectName(QString::fromLatin1(name));
        QObject::connect(b, &QPushButton::clicked, this, action);
        buttons->addWidget(b, index / 2, index % 2);
        ++index;
        return b;
    };
    m_openImageButton = button(tr("Open Image…"), "openImageButton", &KTWelcomeWindow::openImageInWelcome);
    m_batchButton = button(tr("Batch Processing…"), "batchProcessingButton", &KTWelcomeWindow::batchProcessingInWelcome);
    m_manualButton = button(tr("Read the Manual"), "manualButton", &KTWelcomeWindow::readUserManualInWelcome);
    button(tr("Watch the Tutorial"), "tutorialButton", &KTWelcomeWindow::openTutorial);
    button(tr("Get Support"), "supportButton", &KTWelcomeWindow::getSupportInWelcome);
    button(tr("Subscribe to the Newsletter"), "newsletterButton", &KTWelcomeWindow::subscribeToNewsletterInWelcome);
    button(tr("Explore the Frame Library"), "frameLibraryButton", &KTWelcomeWindow::exploreFrameLibrary);
    button(tr("Kantelo Web Site"), "siteButton", &KTWelcomeWindow::openKanteloSite);
    button(tr("Integrations"), "integrationsButton", &KTWelcomeWindow::integrationsInWelcome);
    button(tr("Kantelo on Facebook"), "facebookButton", &KTWelcomeWindow::facebookInWelcome);
    m_openImageButton->setDefault(true);
    buttons->setColumnMinimumWidth(0, kButtonColumnWidth);
    buttons->setColumnMinimumWidth(1, kButtonColumnWidth);

    layout->addSpacing(8);
    m_showAtLaunchCheckBox = new QCheckBox(tr("Show this window when Kantelo starts"), window);
    m_showAtLaunchCheckBox->setObjectName(QStringLiteral("showAtLaunchCheckBox"));
    const QString showKey = QString::fromLatin1(KTPreferenceKeys::kShowWelcomeWindowKey);
    m_showAtLaunchCheckBox->setChecked(platform::UserDefaults::standard().boolForKey(showKey));
    connect(m_showAtLaunchCheckBox, &QCheckBox::toggled, this,
            [showKey](bool show) { platform::UserDefaults::standard().setBool(showKey, show); });
    layout->addWidget(m_showAtLaunchCheckBox);

    m_activityLabel = new QLabel(window);
    m_activityLabel->setObjectName(QStringLiteral("activityLabel"));
    m_activityLabel->hide();
    layout->addWidget(m_activityLabel);
    m_activityProgress = new QProgressBar(window);
    m_activityProgress->setObjectName(QStringLiteral("activityProgressIndicator"));
    m_activityProgress->setRange(0, kProgressSteps);
    m_activityProgress->setTextVisible(false);
    m_activityProgress->hide();
    layout->addWidget(m_activityProgress);

    // The window is as tall as what it shows: the activity's rows take room
    // only while an import runs.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    KTApplicationShortcuts::install(window);
    return window;
}

void KTWelcomeWindow::windowDidLoad()
{
    updateCopyrightYear();
    updateVersion();
    VLWAnalytics::trackEventProperties(QStringLiteral("Welcome"), QVariantMap{{QStringLiteral("Action"), QStringLiteral("Displayed")}});
}

void KTWelcomeWindow::updateCopyrightYear()
{
    if (!m_copyrightLabel)
        return;
    const QString year = QString::number(QDate::currentDate().year());
    m_copyrightLabel->setText(QString::fromUtf8(kCopyrightTemplate).replace(QLatin1Char('@'), year));
}

void KTWelcomeWindow::updateVersion()
{
    if (m_versionLabel)
        m_versionLabel->setText(QStringLiteral("%1 (%2)").arg(VLKitUtils::shortVersionString(), VLKitUtils::versionString()));
}

void KTWelcomeWindow::startActivity(const QString &activity)
{
    KT_ASSERT(!activity.isEmpty(), "Invalid parameter not satisfying: activity");
    QMetaObject::invokeMethod(this, [this, activity] {
        window();
        m_activityLabel->setText(activity);
        m_activityLabel->show();
        m_activityProgress->setValue(0);
        m_activityProgress->show();
    }, Qt::QueuedConnection);
}

void KTWelcomeWindow::endActivity()
{
    QMetaObject::invokeMethod(this, [this] {
        window();
        m_activityLabel->hide();
        m_activityProgress->hide();
    }, Qt::QueuedConnection);
}

void KTWelcomeWindow::setActivityProgress(double progress)
{
    QMetaObject::invokeMethod(this, [this, progress] {
        window();
        const double clamped = std::isfinite(progress) ? std::clamp(progress, 0.0, 1.0) : 0.0;
        m_activityProgress->setValue(int(std::lround(clamped * kProgressSteps)));
    }, Qt::QueuedConnection);
}

void KTWelcomeWindow::openImageInWelcome()
{
    close();
    if (platform::DocumentController *controller = platform::DocumentController::sharedDocumentController(false))
        controller->openDocument();
    VLWAnalytics::trackEventProperties(QStringLiteral("Welcome"), QVariantMap{{QStringLiteral("Action"), QStringLiteral("Open Image")}});
}

void KTWelcomeWindow::track(const char *action)
{
    VLWAnalytics::trackEventProperties(QStringLiteral("Welcome"),
                                       QVariantMap{{QStringLiteral("Action"), QString::fromLatin1(action)}});
}

void KTWelcomeWindow::openPage(const QUrl &url)
{
    if (m_openURL)
        m_openURL(url);
}

void KTWelcomeWindow::openTutorial()
{
    QUrl url(QString::fromLatin1(KTWebAddresses::kTutorialURL));
    url.setQuery(QStringLiteral("origin=welcome"));
    openPage(url);
    close();
    track("Tutorial");
}

void KTWelcomeWindow::exploreFrameLibrary()
{
    openPage(QUrl(QString::fromLatin1(KTWebAddresses::kFrameLibraryURL)));
    close();
    track("Library");
}

void KTWelcomeWindow::openKanteloSite()
{
    openPage(QUrl(QString::fromLatin1(KTWebAddresses::kHomepageURL)));
    close();
    track("Site");
}

void KTWelcomeWindow::batchProcessingInWelcome()
{
    close();
    emit batchProcessingRequested();
    track("Batch");
}

void KTWelcomeWindow::readUserManualInWelcome()
{
    close();
    emit manualRequested();
    track("Manual");
}

void KTWelcomeWindow::getSupportInWelcome()
{
    close();
    emit supportRequested();
    track("Support");
}

void KTWelcomeWindow::subscribeToNewsletterInWelcome()
{
    emit newsletterRequested();
    close();
    track("Newsletter");
}

void KTWelcomeWindow::facebookInWelcome()
{
    emit facebookRequested();
    close();
    track("Facebook");
}

void KTWelcomeWindow::integrationsInWelcome()
{
    openPage(QUrl(QString::fromLatin1(KTWebAddresses::kIntegrationsURL)));
    close();
    track("Integrations");
}

void KTWelcomeWindow::setBatchProcessingAvailable(bool available)
{
    window();
    m_batchButton->setEnabled(available);
}

void KTWelcomeWindow::setManualAvailable(bool available)
{
    window();
    m_manualButton->setEnabled(available);
}

void KTWelcomeWindow::showWindow()
{
    QWidget *welcome = window();
    if (!m_placed) {
        // Whole on the screen the user works on, whatever size it has.
        m_placed = true;
        welcome->layout()->activate();
        platform::placeWindowOnScreen(welcome);
    }
    m_atLaunch = false;
    platform::WindowController::showWindow();
}

void KTWelcomeWindow::showAtLaunch()
{
    // In front, also of a photo opened with the program: the user asked for
    // it at start-up (and can say no with its check box).
    showWindow();
    m_atLaunch = !m_launchEnded;
    keepInFront();
    leaveOtherWindowsInFront();
    // The window manager settles the launch's windows after these calls
    // (remaps, focus handed back to a parent); until the user does anything,
    // a window the launch opened takes the front back.
    if (m_atLaunch && !m_watchingLaunch) {
        m_watchingLaunch = true;
        auto *watcher = new FirstInputWatcher([this] {
            // From now on the user arranges the windows.
            m_atLaunch = false;
            m_launchEnded = true;
        });
        watcher->setParent(this);
        qApp->installEventFilter(watcher);
        // A click that focuses a window reaches it just after the focus:
        // the front is taken back only once no click came.
        auto *settle = new QTimer(this);
        settle->setSingleShot(true);
        settle->setInterval(kLaunchSettleMs);
        connect(settle, &QTimer::timeout, this, [this] {
            QWindow *focus = QGuiApplication::focusWindow();
            for (QWidget *other : otherWindows()) {
                if (other->windowHandle() == focus)
                    return;
            }
            leaveOtherWindowsInFront();
        });
        connect(qApp, &QGuiApplication::focusWindowChanged, settle, [this, settle] {
            if (m_atLaunch)
                settle->start();
        });
    }
}

QList<QWidget *> KTWelcomeWindow::otherWindows()
{
    QList<QWidget *> others;
    QWidget *welcome = isWindowLoaded() ? window() : nullptr;
    for (QWidget *other : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = other->windowType();
        if (other != welcome && other->isVisible() && (type == Qt::Window || type == Qt::Dialog)
            && !documentOfWindow(other))
            others.append(other);
    }
    return others;
}

void KTWelcomeWindow::leaveOtherWindowsInFront()
{
    // A window a file opened with the program brought up (a frame archive's
    // import, an alert) waits for the user: it stays above, documents don't.
    if (!m_atLaunch)
        return;
    const QList<QWidget *> others = otherWindows();
    for (QWidget *other : others)
        other->raise();
    if (!others.isEmpty())
        others.constLast()->activateWindow();
}

void KTWelcomeWindow::keepInFront()
{
    QWidget *welcome = isWindowLoaded() ? window() : nullptr;
    if (!welcome || !welcome->isVisible())
        return;
    if (m_owner) {
        // Its start-up window may have just taken a photo.
        ownerTookPhoto();
        return;
    }
    if (welcome->windowType() == Qt::Dialog)
        belongTo(nullptr, true); // the window it belonged to is gone
    platform::Document *document = frontDocument();
    QWidget *documentWindow = document ? document->windowForSheet() : nullptr;
    if (documentWindow && !documentWindow->isVisible()) {
        // Not shown yet: once it is, it may need the welcome window above it.
        m_documentWindow = documentWindow;
        documentWindow->installEventFilter(this);
        return;
    }
    if (!documentWindow || !showsStartupPicture(document))
        return;
    belongTo(documentWindow, true);
    leaveOtherWindowsInFront();
    // A photo going into the start-up window sends the welcome window behind.
    connect(document, &platform::Document::fileURLChanged, this, &KTWelcomeWindow::ownerTookPhoto,
            Qt::ConnectionType(Qt::QueuedConnection | Qt::UniqueConnection));
}

void KTWelcomeWindow::keepInFrontLater()
{
    QMetaObject::invokeMethod(this, &KTWelcomeWindow::keepInFront, Qt::QueuedConnection);
}

void KTWelcomeWindow::ownerTookPhoto()
{
    if (!m_owner || showsStartupPicture(documentOfWindow(m_owner)))
        return;
    if (window()->isVisible())
        stepBehind(m_owner);
    else
        belongTo(nullptr, false);
}

void KTWelcomeWindow::belongTo(QWidget *owner, bool activate)
{
    QWidget *welcome = window();
    m_owner = owner;
    // A dialog stays above the window it belongs to; the window system reads
    // the owner when a window is mapped, so it is mapped anew.
    const bool wasVisible = welcome->isVisible();
    const QPoint place = welcome->pos();
    welcome->hide();
    welcome->setWindowFlags((welcome->windowFlags() & ~Qt::WindowType_Mask) | (owner ? Qt::Dialog : Qt::Window));
    welcome->winId();
    if (QWindow *handle = welcome->windowHandle())
        handle->setTransientParent(owner ? owner->windowHandle() : nullptr);
    if (!wasVisible)
        return;
    welcome->move(place);
    welcome->setAttribute(Qt::WA_ShowWithoutActivating, !activate);
    welcome->show();
    welcome->setAttribute(Qt::WA_ShowWithoutActivating, false);
    if (activate) {
        welcome->raise();
        welcome->activateWindow();
    }
}

void KTWelcomeWindow::stepBehind(QWidget *documentWindow)
{
    if (m_owner)
        belongTo(nullptr, false);
    window()->lower();
    documentWindow->raise();
    documentWindow->activateWindow();
}

bool KTWelcomeWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_documentWindow && event->type() == QEvent::Show) {
        m_documentWindow->removeEventFilter(this);
        keepInFrontLater();
    }
    return platform::WindowController::eventFilter(watched, event);
}
