#include "app/KTBottomBarViewController.h"

#include "app/KTAlertsViewController.h"
#include "app/KTDesignCanvasInterface.h"
#include "app/KTDesignDocumentInterface.h"
#include "app/KTLibraryPanelInterface.h"
#include "design/KTPreferenceKeys.h"
#include "app/KTPresentationSettings.h"
#include "design/KTTemplate.h"
#include "kit/VLValueAdditions.h"
#include "kit/ui/VLColorWell.h"
#include "platform/Dispatch.h"
#include "platform/ThreadPools.h"
#include "platform/TypeTable.h"
#include "platform/UserDefaults.h"
#include "platform/codec/ExportFormat.h"
#include "platform/ui/Document.h"
#include "platform/ui/FilePanels.h"
#include "platform/ui/OpenWithDesktop.h"
#include "platform/ui/WindowController.h"
#include "app/KTViewState.h"
#include "platform/Assert.h"

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QMenu>
#include <QProcess>
#include <QHBoxLayout>
#include <QScreen>
#include <QVBoxLayout>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QWidget>

#include <algorithm>
#include <cmath>

using platform::Color;

KTBottomBarViewController::KTBottomBarViewController(const QString &nibName,
                                                     platform::WindowController *windowController, QObject *parent)
    : XSViewController(nibName, windowController, parent)
{
    // Until the user's set is loaded, the factory one.
    const KTPresentationSettings factory = KTPresentationSettings::defaultSettings();
    if (factory.leftColor())
        m_leftColor = *factory.leftColor();
    if (factory.rightColor())
        m_rightColor = *factory.rightColor();
    if (factory.colorSliderPosition() > 0)
        m_colorSliderPosition = factory.colorSliderPosition();
}

KTBottomBarViewController::~KTBottomBarViewController()
{
    if (m_alertsObserver)
        platform::NotificationCenter::defaultCenter().removeObserver(m_alertsObserver);
    if (m_panelObserver)
        platform::NotificationCenter::defaultCenter().removeObserver(m_panelObserver);
    for (platform::NotificationCenter::ObserverId id : std::as_const(m_designObservers))
        platform::NotificationCenter::defaultCenter().removeObserver(id);
    delete m_alertsPopup.data();
}

namespace {

// The warnings list shown above its button; it lends the list's one view
// and hands it back when it closes.
class AlertsPopup : public QFrame
{
public:
    AlertsPopup(QWidget *parent, QWidget *content)
        : QFrame(parent, Qt::Popup)
        , m_content(content)
    {
        setObjectName(QStringLiteral("alertsPopup"));
        setFrameShape(QFrame::StyledPanel);
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(content);
        content->show();
    }

protected:
    void hideEvent(QHideEvent *event) override
    {
        QFrame::hideEvent(event);
        if (m_content) {
            m_content->hide();
            m_content->setParent(nullptr);
        }
        deleteLater();
    }

private:
    QPointer<QWidget> m_content;
};

} // namespace

void KTBottomBarViewController::showAlertsButton(const platform::Notification &notification)
{
    if (!m_alertsButton || !notification.userInfo)
        return;
    const bool show = notification.userInfo->value(QString::fromLatin1(KTAlertsViewController::kShowKey)).toBool();
    KTAlertsViewController *alerts = KTAlertsViewController::shared();
    const qint64 count = alerts ? alerts->newAlerts() : 0;
    m_alertsButton->setText(count > 0 ? QStringLiteral("⚠ %1").arg(count) : QStringLiteral("⚠"));
    m_alertsButton->setToolTip(
        KTAlertsViewController::tr(KTAlertsViewController::kNewAlertsFormat, nullptr, int(count)));
    m_alertsButton->setVisible(show);
}

void KTBottomBarViewController::alertsButtonPressed()
{
    KTAlertsViewController *alerts = KTAlertsViewController::shared();
    if (!alerts || !m_alertsButton || m_alertsPopup)
        return;
    auto *popup = new AlertsPopup(m_alertsButton->window(), alerts->view());
    m_alertsPopup = popup;
    popup->adjustSize();
    // Above the button, its left edge on the button's, kept on the screen.
    QPoint at = m_alertsButton->mapToGlobal(QPoint(0, 0)) - QPoint(0, popup->height() + 4);
    if (const QScreen *screen = m_alertsButton->screen()) {
        const QRect area = screen->availableGeometry();
        at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - popup->width())));
        at.setY(std::max(at.y(), area.top()));
    }
    popup->move(at);
    popup->show();
}

QWidget *KTBottomBarViewController::loadView()
{
    auto *view = new QWidget;
    view->setObjectName(nibName());
    view->setFixedHeight(36);
    view->setAutoFillBackground(true);
    QPalette palette = view->palette();
    palette.setColor(QPalette::Window, QColor(46, 46, 48));
    view->setPalette(palette);
    auto *layout = new QHBoxLayout(view);
    layout->setContentsMargins(8, 4, 8, 4);
    layout->setSpacing(4);

    m_plusButton = new QPushButton(QStringLiteral("+"), view);
    m_plusButton->setObjectName(QStringLiteral("plusButton"));
    m_minusButton = new QPushButton(QStringLiteral("−"), view);
    m_minusButton->setObjectName(QStringLiteral("minusButton"));
    for (QPushButton *button : {m_plusButton.data(), m_minusButton.data()}) {
        button->setFixedSize(28, 24);
        button->setFocusPolicy(Qt::NoFocus);
        layout->addWidget(button);
    }
    m_plusButton->setToolTip(tr("Add the current design to the open list"));
    m_minusButton->setToolTip(tr("Remove the selected items from the open list"));
    m_plusButton->setEnabled(m_plusButtonEnabled);
    m_minusButton->setEnabled(m_minusButtonEnabled);
    connect(m_plusButton, &QPushButton::clicked, this, &KTBottomBarViewController::plusButtonPressed);
    connect(m_minusButton, &QPushButton::clicked, this, &KTBottomBarViewController::minusButtonPressed);

    m_actionButton = new QToolButton(view);
    m_actionButton->setObjectName(QStringLiteral("actionButton"));
    m_actionButton->setFocusPolicy(Qt::NoFocus);
    m_actionButton->setPopupMode(QToolButton::InstantPopup);
    m_actionButton->setFixedHeight(24);
    m_actionMenu = new QMenu(m_actionButton);
    m_actionMenu->setObjectName(QStringLiteral("actionMenu"));
    // Item 0 stands for the button itself and never shows in the menu.
    QAction *face = m_actionMenu->addAction(QStringLiteral("⚙"));
    face->setObjectName(QStringLiteral("actionMenuTitle"));
    face->setToolTip(tr("Actions for the selected item"));
    face->setVisible(false);
    m_actionButton->setText(face->text());
    m_actionButton->setToolTip(face->toolTip());
    m_actionButton->setMenu(m_actionMenu);
    connect(m_actionMenu, &QMenu::aboutToShow, this, &KTBottomBarViewController::menuNeedsUpdate);
    layout->addWidget(m_actionButton);

    layout->addSpacing(12);
    m_zoomSlider = new QSlider(Qt::Horizontal, view);
    m_zoomSlider->setObjectName(QStringLiteral("zoomSlider"));
    m_zoomSlider->setRange(int(std::lround(KTViewState::kMinimumZoom * 100)), int(std::lround(KTViewState::kMaximumZoom * 100)));
    m_zoomSlider->setFixedWidth(120);
    m_zoomSlider->setFocusPolicy(Qt::NoFocus);
    m_zoomSlider->setToolTip(tr("Zoom"));
    m_zoomSlider->setValue(int(std::lround((m_viewState ? m_viewState->zoom() : KTViewState::kInitialZoom) * 100)));
    connect(m_zoomSlider, &QSlider::valueChanged, this, [this](int value) {
        if (m_viewState)
            m_viewState->setZoom(value / 100.0);
    });
    layout->addWidget(m_zoomSlider);
    layout->addSpacing(12);
    m_imageSize = new QPushButton(view);
    m_imageSize->setObjectName(QStringLiteral("imageSize"));
    m_imageSize->setFlat(true);
    m_imageSize->setFocusPolicy(Qt::NoFocus);
    m_imageSize->setToolTip(tr("The size of the framed picture in pixels"));
    layout->addWidget(m_imageSize);
    m_imageRatio = new QLabel(view);
    m_imageRatio->setObjectName(QStringLiteral("imageRatio"));
    m_imageRatio->setMinimumWidth(60);
    layout->addWidget(m_imageRatio);
    m_aspectRatioPopup = new QComboBox(view);
    m_aspectRatioPopup->setObjectName(QStringLiteral("aspectRatioPopupButton"));
    m_aspectRatioPopup->setFocusPolicy(Qt::NoFocus);
    m_aspectRatioPopup->addItem(tr("Current Proportions"), kCurrentAspectRatioTag);
    m_aspectRatioPopup->addItem(tr(kSameAsImageFormat).arg(QStringLiteral("—")), kOriginalAspectRatioTag);
    for (int i = 0; i < kAspectRatioCount; ++i)
        m_aspectRatioPopup->addItem(aspectRatioStringWithRatioSize(QSizeF(aspectRatioAtIndex(i) * shortSideAtIndex(i), shortSideAtIndex(i))), i);
    {
        platform::UserDefaults &defaults = platform::UserDefaults::standard();
        const QString key = QString::fromLatin1(KTPreferenceKeys::kAspectRatioMenuItemIndexKey);
        qint64 index = defaults.integerForKey(key);
        if (index < 0 || index >= m_aspectRatioPopup->count()) {
            index = 1;
            defaults.setInteger(key, index);
        }
        m_aspectRatioPopup->setCurrentIndex(int(index));
    }
    connect(m_aspectRatioPopup, &QComboBox::activated, this, &KTBottomBarViewController::aspectRatioSelectionChanged);
    layout->addWidget(m_aspectRatioPopup);
    m_lockButton = new QCheckBox(tr("Lock"), view);
    m_lockButton->setObjectName(QStringLiteral("lockAspectRatioButton"));
    m_lockButton->setFocusPolicy(Qt::NoFocus);
    m_lockButton->setToolTip(tr("Keep the design at the chosen proportions"));
    connect(m_lockButton, &QCheckBox::toggled, this, &KTBottomBarViewController::setIsLockedAspectRatio);
    layout->addWidget(m_lockButton);

    layout->addStretch(1);
    m_shareButton = new QPushButton(tr("Share"), view);
    m_shareButton->setObjectName(QStringLiteral("shareButton"));
    m_shareButton->setFocusPolicy(Qt::NoFocus);
    auto *share = new QMenu(m_shareButton);
    share->setObjectName(QStringLiteral("shareMenu"));
    share->addAction(tr("Copy"), this, &KTBottomBarViewController::copyToClipboard)->setObjectName(QStringLiteral("copyShareAction"));
    share->addAction(tr("Open in Image Viewer"), this, &KTBottomBarViewController::openWithViewer)
        ->setObjectName(QStringLiteral("viewerShareAction"));
    share->addAction(tr("Save a Copy…"), this, &KTBottomBarViewController::saveCopy)->setObjectName(QStringLiteral("saveShareAction"));
    share->addAction(tr("E-mail…"), this, &KTBottomBarViewController::emailPicture)->setObjectName(QStringLiteral("emailShareAction"));
    m_shareButton->setMenu(share);
    layout->addWidget(m_shareButton);
    m_alertsButton = new QPushButton(QStringLiteral("⚠"), view);
    m_alertsButton->setObjectName(QStringLiteral("alertsButton"));
    m_alertsButton->setFocusPolicy(Qt::NoFocus);
    m_alertsButton->hide();
    connect(m_alertsButton, &QPushButton::clicked, this, &KTBottomBarViewController::alertsButtonPressed);
    layout->addWidget(m_alertsButton);
    QPointer<KTBottomBarViewController> self(this);
    m_alertsObserver = platform::NotificationCenter::defaultCenter().addObserver(
        QString::fromLatin1(KTAlertsViewController::kShowAlertsNotification), nullptr,
        [self](const platform::Notification &notification) {
            if (self)
                self->showAlertsButton(notification);
        },
        this);
    // A window opened after warnings came shows the button at once.
    if (KTAlertsViewController *alerts = KTAlertsViewController::shared(); alerts && !alerts->text().isEmpty())
        m_alertsButton->show();

    // The two background colours, edited on the program's one colour
    // dialog, with the blend slider between them.
    auto addWell = [&](const char *name, const QString &tip, void (KTBottomBarViewController::*set)(const Color &)) {
        auto *well = new VLColorWell(view);
        well->setObjectName(QString::fromLatin1(name));
        well->setToolTip(tip);
        well->setFixedSize(well->sizeHint());
        connect(well, &VLColorWell::colorEdited, this, [this, set](const QColor &color) {
            (this->*set)(Color::fromQColor(color));
        });
        return well;
    };
    m_leftColorWell = addWell("leftColorWell", tr("Background colour"), &KTBottomBarViewController::setLeftColor);
    m_rightColorWell = addWell("rightColorWell", tr("Second background colour"), &KTBottomBarViewController::setRightColor);
    layout->addWidget(m_leftColorWell);
    m_slider = new QSlider(Qt::Horizontal, view);
    m_slider->setObjectName(QStringLiteral("colorSlider"));
    m_slider->setRange(0, kSliderSteps);
    m_slider->setFixedWidth(140);
    m_slider->setFocusPolicy(Qt::NoFocus);
    m_slider->setValue(int(std::lround(m_colorSliderPosition * kSliderSteps)));
    connect(m_slider, &QSlider::valueChanged, this,
            [this](int value) { setColorSliderPosition(double(value) / kSliderSteps); });
    layout->addWidget(m_slider);
    layout->addWidget(m_rightColorWell);
    showColorsInWells();
    // The user's saved presentation (colours, blend, zoom) from the start.
    loadPreviousPresentationSettings();
    return view;
}

void KTBottomBarViewController::setViewState(const std::shared_ptr<KTViewState> &viewState)
{
    m_viewState = viewState;
    setRepresentedObject(QVariant::fromValue(static_cast<QObject *>(viewState.get())));
    recolorViewState();
    // The zoom slider follows the zoom, whoever changes it.
    if (viewState) {
        connect(viewState.get(), &KTViewState::viewStateChanged, this, [this] {
            if (m_zoomSlider && m_viewState) {
                const QSignalBlocker blocker(m_zoomSlider);
                m_zoomSlider->setValue(int(std::lround(m_viewState->zoom() * 100)));
            }
        });
    }
}

void KTBottomBarViewController::setTemplate(const std::shared_ptr<KTTemplate> &design)
{
    KT_ASSERT(!m_template, kTemplateSetTwice);
    m_template = design;
    if (!design)
        return;
    QPointer<KTBottomBarViewController> self(this);
    auto changed = [self](const platform::Notification &) {
        if (self)
            self->modelChanged();
    };
    platform::NotificationCenter &center = platform::NotificationCenter::defaultCenter();
    for (const char *name : {KTTemplate::kModelChangedNotification, KTTemplate::kLayerChangedNotification})
        m_designObservers << center.addObserver(QString::fromLatin1(name), design.get(), changed, this);
    modelChanged();
}

// --- sharing the framed picture ---

namespace {
KTBottomBarViewController::DesktopRunner &desktopRunner()
{
    static KTBottomBarViewController::DesktopRunner runner;
    return runner;
}

bool runOnDesktop(const QString &program, const QStringList &arguments)
{
    if (desktopRunner())
        return desktopRunner()(program, arguments);
    if (program.isEmpty())
        return !arguments.isEmpty() && platform::openWithDesktop(QUrl::fromLocalFile(arguments.first()));
    return QProcess::startDetached(program, arguments);
}
} // namespace

void KTBottomBarViewController::setDesktopRunner(DesktopRunner runner)
{
    desktopRunner() = std::move(runner);
}

namespace {
int pngIndex()
{
    for (const platform::ExportFormat &format : platform::ExportFormat::all()) {
        if (format.id == platform::ExportFormat::Id::Png)
            return format.savedIndex;
    }
    return -1;
}

// The canvas shows its busy cover while the picture is made.
class BusyCanvas
{
public:
    explicit BusyCanvas(QObject *canvas)
        : m_canvas(canvas)
    {
        if (auto *shown = dynamic_cast<KTDesignCanvasInterface *>(m_canvas.data()))
            shown->showPause();
    }
    ~BusyCanvas()
    {
        if (auto *shown = dynamic_cast<KTDesignCanvasInterface *>(m_canvas.data()))
            shown->hidePause();
    }

private:
    QPointer<QObject> m_canvas;
};
} // namespace

QSizeF KTBottomBarViewController::sizeShownOnScreen() const
{
    auto *canvas = dynamic_cast<KTDesignCanvasInterface *>(m_designViewController.data());
    return canvas ? canvas->lastDrawnSize() : QSizeF();
}

QString KTBottomBarViewController::writeShareFile(int formatIndex) const
{
    KTDesignDocumentInterface *document = KTDesignDocumentInterface::ofWindowController(windowController());
    if (!document)
        return {};
    platform::Error error;
    QUrl url;
    {
        const BusyCanvas busy(m_designViewController);
        url = document->writeFramedPictureFile(sizeShownOnScreen(), formatIndex, &error);
    }
    if (url.isEmpty() && !error.isNull())
        platform::presentError(error);
    return url.toLocalFile();
}

QImage KTBottomBarViewController::imageToShare() const
{
    const QString path = writeShareFile(pngIndex());
    if (path.isEmpty())
        return {};
    // Read back off the main thread; the file is needed no longer.
    QImage image;
    platform::PoolJob reading(platform::Pool::Previews, [&image, path] { image = QImage(path); });
    platform::spinEventLoopUntil([&reading] { return reading.isFinished(); }, 20);
    QDir(QFileInfo(path).absolutePath()).removeRecursively();
    return image;
}

void KTBottomBarViewController::copyToClipboard()
{
    const QImage image = imageToShare();
    if (!image.isNull())
        QGuiApplication::clipboard()->setImage(image);
}

void KTBottomBarViewController::openWithViewer()
{
    const QString path = writeShareFile();
    if (!path.isEmpty())
        runOnDesktop(QString(), {path});
}

void KTBottomBarViewController::emailPicture()
{
    const QString path = writeShareFile();
    if (path.isEmpty())
        return;
    if (!runOnDesktop(QStringLiteral("xdg-email"),
                      {QStringLiteral("--subject"), tr(kShareText), QStringLiteral("--attach"), path})) {
        const QFileInfo file(path);
        platform::tellFileNotOpened(path, tr(kMailNotStartedMessage).arg(file.fileName()),
                                    tr(kMailNotStartedText).arg(QDir::toNativeSeparators(file.absolutePath())));
    }
}

void KTBottomBarViewController::saveCopy()
{
    KTDesignDocumentInterface *document = KTDesignDocumentInterface::ofWindowController(windowController());
    if (!document)
        return;
    const platform::ExportFormat &preferred = platform::ExportFormat::forSavedIndex(
        platform::UserDefaults::standard().integerForKey(QString::fromLatin1(KTPreferenceKeys::kOutputImageFormatKey)));
    platform::SavePanelRequest request;
    request.title = tr("Save a Copy");
    request.allowedExtensions = platform::ExportFormat::allExtensions();
    request.nameFieldValue = QStringLiteral("Framed picture.") + preferred.extensions.first();
    request.parent = view() ? view()->window() : nullptr;
    const QUrl url = platform::runSavePanel(request);
    if (url.isEmpty())
        return;
    platform::Error error;
    bool written = false;
    {
        const BusyCanvas busy(m_designViewController);
        const platform::ExportFormat *named =
            platform::ExportFormat::forExtension(QFileInfo(url.toLocalFile()).suffix());
        const int format = named ? named->savedIndex : preferred.savedIndex;
        written = document->writeFramedPicture(url, sizeShownOnScreen(), format, &error);
    }
    if (!written && !error.isNull())
        platform::presentError(error);
}

// --- + and − ---

void KTBottomBarViewController::setLibraryViewController(QObject *controller)
{
    disconnect(m_libraryStateConnection);
    m_libraryViewController = controller;
    if (controller && controller->metaObject()->indexOfSignal("libraryStateChanged()") >= 0)
        m_libraryStateConnection = connect(controller, SIGNAL(libraryStateChanged()), this, SLOT(panelManagerPanelOpenedHandler()));
}

void KTBottomBarViewController::setPanelManager(KTPanelManagerViewController *manager)
{
    auto &center = platform::NotificationCenter::defaultCenter();
    if (m_panelObserver)
        center.removeObserver(m_panelObserver);
    m_panelObserver = 0;
    m_panelManager = manager;
    if (!manager)
        return;
    QPointer<KTBottomBarViewController> self(this);
    m_panelObserver = center.addObserver(QString::fromLatin1(KTPanelManagerViewController::kPanelOpenedNotification), manager,
                                         [self](const platform::Notification &) {
                                             if (self)
                                                 self->panelManagerPanelOpenedHandler();
                                         },
                                         this);
    panelManagerPanelOpenedHandler();
}

void KTBottomBarViewController::panelManagerPanelOpenedHandler()
{
    KTPanelViewController *open = m_panelManager ? m_panelManager->currentOpenPanel() : nullptr;
    QObject *current = open ? open->customViewController() : nullptr;
    if (current && current == m_libraryViewController) {
        // In the library + has nothing to add; − takes a favourite out.
        auto *library = dynamic_cast<KTLibraryPanelInterface *>(current);
        setPlusButtonEnabled(false);
        setMinusButtonEnabled(library && library->libraryState() == 1);
    } else {
        setPlusButtonEnabled(true);
        setMinusButtonEnabled(true);
    }
}

void KTBottomBarViewController::menuNeedsUpdate()
{
    if (!m_actionMenu)
        return;
    const QList<QAction *> items = m_actionMenu->actions();
    for (qsizetype i = 1; i < items.size(); ++i) {
        m_actionMenu->removeAction(items[i]);
        if (items[i]->parent() == m_actionMenu)
            delete items[i];
    }
    KTPanelViewController *open = m_panelManager ? m_panelManager->currentOpenPanel() : nullptr;
    auto *library = dynamic_cast<KTLibraryPanelInterface *>(open ? open->customViewController() : nullptr);
    QMenu *source = library ? library->libraryPopUpMenu() : nullptr;
    if (!source)
        return;
    // Copies, so the library may rebuild its own menu at any time; a copy
    // whose original has gone does nothing.
    for (QAction *original : source->actions()) {
        auto *copy = new QAction(original->icon(), original->text(), m_actionMenu);
        copy->setSeparator(original->isSeparator());
        copy->setData(original->data());
        copy->setEnabled(original->isEnabled());
        copy->setVisible(original->isVisible());
        copy->setCheckable(original->isCheckable());
        copy->setChecked(original->isChecked());
        copy->setToolTip(original->toolTip());
        QPointer<QAction> target(original);
        connect(copy, &QAction::triggered, this, [target] {
            if (target)
                target->trigger();
        });
        m_actionMenu->addAction(copy);
    }
}

// --- size, proportions and the aspect lock ---

namespace {
constexpr double kRatios[KTBottomBarViewController::kAspectRatioCount] = {1.0, 1.25, 11.0 / 8.5, 4.0 / 3.0, 1.4,
                                                                          1.4142135624, 1.5, 1.6, 16.0 / 9.0, 2.0};
constexpr double kShortSides[KTBottomBarViewController::kAspectRatioCount] = {1, 4, 8.5, 3, 5, 1, 2, 5, 9, 1};

} // namespace

double KTBottomBarViewController::aspectRatioAtIndex(int index)
{
    return kRatios[std::clamp(index, 0, kAspectRatioCount - 1)];
}

double KTBottomBarViewController::shortSideAtIndex(int index)
{
    return kShortSides[std::clamp(index, 0, kAspectRatioCount - 1)];
}

double KTBottomBarViewController::aspectRatioForSize(const QSizeF &size, bool *flipped)
{
    const bool flip = size.height() > size.width();
    if (flipped)
        *flipped = flip;
    const double longSide = flip ? size.height() : size.width();
    const double shortSide = flip ? size.width() : size.height();
    return shortSide > 0 && std::isfinite(longSide / shortSide) ? longSide / shortSide : 1.0;
}

int KTBottomBarViewController::aspectRatioArrayIndexForRatio(double ratio)
{
    for (int i = 0; i + 1 < kAspectRatioCount; ++i) {
        if ((kRatios[i] + kRatios[i + 1]) / 2 > ratio)
            return i;
    }
    return kAspectRatioCount - 1;
}

QSizeF KTBottomBarViewController::humanAspectRatio(int index, double ratio, bool flip)
{
    const double s = shortSideAtIndex(index);
    return flip ? QSizeF(s, ratio * s) : QSizeF(ratio * s, s);
}

QString KTBottomBarViewController::aspectRatioStringWithRatioSize(const QSizeF &pair)
{
    return QStringLiteral("%1:%2").arg(NSNumberVLExtras::shortDecimalString(pair.width(), 2),
                                            NSNumberVLExtras::shortDecimalString(pair.height(), 2));
}

QString KTBottomBarViewController::imageSizeText() const
{
    return m_imageSize ? m_imageSize->text() : QString();
}

QString KTBottomBarViewController::imageRatioText() const
{
    return m_imageRatio ? m_imageRatio->text() : QString();
}

int KTBottomBarViewController::selectedAspectRatioTag() const
{
    return m_aspectRatioPopup ? m_aspectRatioPopup->currentData().toInt() : kCurrentAspectRatioTag;
}

void KTBottomBarViewController::aspectRatioSelectionChanged(int index)
{
    if (!m_aspectRatioPopup || index < 0)
        return;
    m_aspectRatioPopup->setCurrentIndex(index);
    platform::UserDefaults::standard().setInteger(QString::fromLatin1(KTPreferenceKeys::kAspectRatioMenuItemIndexKey),
                                                  index);
    if (m_template)
        m_template->setLockedAspectRatio(aspectRatioToLock());
    modelChanged();
}

bool KTBottomBarViewController::isLockedAspectRatio() const
{
    return m_template && m_template->isLockedAspectRatio();
}

void KTBottomBarViewController::setIsLockedAspectRatio(bool locked)
{
    if (!m_template)
        return;
    if (locked)
        m_template->setLockedAspectRatio(aspectRatioToLock());
    m_template->setIsLockedAspectRatio(locked);
    if (m_lockButton && m_lockButton->isChecked() != locked) {
        const QSignalBlocker blocker(m_lockButton);
        m_lockButton->setChecked(locked);
    }
}

double KTBottomBarViewController::aspectRatioToLock() const
{
    const int tag = selectedAspectRatioTag();
    if (tag == kOriginalAspectRatioTag)
        return m_originalImageAspectRatio;
    if (tag == kCurrentAspectRatioTag)
        return m_currentAspectRatio.height() > 0 ? m_currentAspectRatio.width() / m_currentAspectRatio.height() : 1.0;
    if (tag >= 0 && tag < kAspectRatioCount)
        return kRatios[tag];
    return 1.0;
}

void KTBottomBarViewController::modelChanged()
{
    if (!m_template)
        return;
    updateOriginalAspectRatio();
    // In whole pixels as Save writes them.
    updateImageSize(QSizeF(m_template->framedPixelSize()));
    if (m_lockButton) {
        const QSignalBlocker blocker(m_lockButton);
        m_lockButton->setChecked(m_template->isLockedAspectRatio());
    }
}

void KTBottomBarViewController::updateOriginalAspectRatio()
{
    const QSizeF size = m_template ? m_template->originalImageSize() : QSizeF();
    if (size == m_lastOriginalImageSize)
        return;
    m_lastOriginalImageSize = size;
    bool flip = false;
    m_originalImageAspectRatio = aspectRatioForSize(size, &flip);
    m_originalImageAspectRatioArrayIndex = aspectRatioArrayIndexForRatio(m_originalImageAspectRatio);
    if (m_aspectRatioPopup) {
        const int at = m_aspectRatioPopup->findData(kOriginalAspectRatioTag);
        m_aspectRatioPopup->setItemText(at, tr(kSameAsImageFormat).arg(aspectRatioStringWithRatioSize(
                                                humanAspectRatio(m_originalImageAspectRatioArrayIndex,
                                                                 m_originalImageAspectRatio, flip))));
    }
}

QSizeF KTBottomBarViewController::humanAspectRatioBasedOnMenuForSize(const QSizeF &size)
{
    bool flip = false;
    const double ratio = aspectRatioForSize(size, &flip);
    const int tag = selectedAspectRatioTag();
    int index = 0;
    double reference = 0;
    if (tag == kOriginalAspectRatioTag) {
        index = m_originalImageAspectRatioArrayIndex;
        reference = m_originalImageAspectRatio;
    } else if (tag == kCurrentAspectRatioTag) {
        index = aspectRatioArrayIndexForRatio(ratio);
        reference = kRatios[index];
    } else if (tag >= 0 && tag < kAspectRatioCount) {
        index = tag;
        reference = kRatios[tag];
    }
    if (reference > 0)
        m_aspectAccuracy = ratio / reference;
    return humanAspectRatio(index, ratio, flip);
}

void KTBottomBarViewController::updateImageSize(const QSizeF &size)
{
    view();
    m_imageSize->setText(QStringLiteral("%1:%2").arg(NSNumberVLExtras::shortDecimalString(size.width(), 0),
                                                                 NSNumberVLExtras::shortDecimalString(size.height(), 0)));
    m_currentAspectRatio = humanAspectRatioBasedOnMenuForSize(size);
    m_imageRatio->setText(aspectRatioStringWithRatioSize(m_currentAspectRatio));
    QPalette palette = m_imageRatio->palette();
    // A darkened green when the proportions are within 2 % of the chosen ratio.
    palette.setColor(QPalette::WindowText, isGoodAspectRatio() ? QColor(0, 179, 0) : m_imageSize->palette().color(QPalette::ButtonText));
    m_imageRatio->setPalette(palette);
}

void KTBottomBarViewController::setPlusButtonEnabled(bool enabled)
{
    m_plusButtonEnabled = enabled;
    if (m_plusButton)
        m_plusButton->setEnabled(enabled);
}

void KTBottomBarViewController::setMinusButtonEnabled(bool enabled)
{
    m_minusButtonEnabled = enabled;
    if (m_minusButton)
        m_minusButton->setEnabled(enabled);
}

void KTBottomBarViewController::setLeftColor(const Color &color)
{
    m_leftColor = color;
    showColorsInWells();
    recolorViewState();
}

void KTBottomBarViewController::setRightColor(const Color &color)
{
    m_rightColor = color;
    showColorsInWells();
    recolorViewState();
}

void KTBottomBarViewController::showColorsInWells()
{
    if (m_leftColorWell)
        m_leftColorWell->setColor(m_leftColor.toQColor());
    if (m_rightColorWell)
        m_rightColorWell->setColor(m_rightColor.toQColor());
}

void KTBottomBarViewController::setColorSliderPosition(double position)
{
    m_colorSliderPosition = std::isfinite(position) ? std::clamp(position, 0.0, 1.0) : m_colorSliderPosition;
    if (m_slider) {
        const QSignalBlocker quiet(m_slider);
        m_slider->setValue(int(std::lround(m_colorSliderPosition * kSliderSteps)));
    }
    recolorViewState();
}

QColor KTBottomBarViewController::blendedColor() const
{
    const QColor left = m_leftColor.toQColor();
    const QColor right = m_rightColor.toQColor();
    const double t = m_colorSliderPosition;
    return QColor::fromRgbF(float(left.redF() + (right.redF() - left.redF()) * t),
                            float(left.greenF() + (right.greenF() - left.greenF()) * t),
                            float(left.blueF() + (right.blueF() - left.blueF()) * t));
}

void KTBottomBarViewController::recolorViewState()
{
    if (m_viewState)
        m_viewState->setBackgroundColor(blendedColor());
}

KTPresentationSettings KTBottomBarViewController::currentPresentationSettings() const
{
    return KTPresentationSettings(KTPresentationSettings::storedColor(m_leftColor),
                                  KTPresentationSettings::storedColor(m_rightColor), m_colorSliderPosition,
                                  m_viewState ? m_viewState->zoom() : KTViewState::kInitialZoom);
}

void KTBottomBarViewController::applySettings(const KTPresentationSettings &settings)
{
    if (settings.leftColor())
        m_leftColor = *settings.leftColor();
    if (settings.rightColor())
        m_rightColor = *settings.rightColor();
    showColorsInWells();
    setColorSliderPosition(settings.colorSliderPosition());
    if (m_viewState)
        m_viewState->setZoom(settings.zoomLevel());
}

void KTBottomBarViewController::saveCurrentPresentationSettings()
{
    currentPresentationSettings().save();
}

void KTBottomBarViewController::loadPreviousPresentationSettings()
{
    applySettings(KTPresentationSettings::previousSettings());
}

void KTBottomBarViewController::resetToDefaultPresentationSettings()
{
    KTPresentationSettings::reset();
    loadPreviousPresentationSettings();
}

bool KTBottomBarViewController::previousPresentationSettingsAreDifferentFromCurrentValues() const
{
    const KTPresentationSettings previous = KTPresentationSettings::previousSettings();
    return previous != currentPresentationSettings() && previous != KTPresentationSettings::defaultSettings();
}
