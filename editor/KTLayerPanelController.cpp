#include "editor/KTLayerPanelController.h"

#include "app/KTControllerRegistry.h"
#include "design/KTColorMatLayer.h"
#include "design/KTFrameLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTLayer.h"
#include "editor/KTBoundControls.h"
#include "editor/KTEyedropper.h"
#include "editor/KTLayersPaletteController.h"
#include "editor/KTTemplateControlsViewController.h"
#include "editor/KTOverlayControlsViewController.h"
#include "editor/VLRotateView.h"
#include "kit/ui/VLColorWell.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "platform/ui/Document.h"

#include <QApplication>
#include <QCheckBox>
#include <QGuiApplication>
#include <QWindow>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QToolButton>
#include <QUndoStack>
#include <QVBoxLayout>

#include <algorithm>

KTLayerPanelController::KTLayerPanelController(const QString &nibName, platform::WindowController *windowController,
                                               QObject *parent)
    : XSViewController(nibName, windowController, parent)
    , m_controls(new KTBoundControls(this))
{
    m_controls->setUndoStackProvider([this] { return undoStack(); });
}

KTLayer *KTLayerPanelController::layer() const
{
    return qobject_cast<KTLayer *>(m_controls->target());
}

KTLayersPaletteController *KTLayerPanelController::layersPaletteController() const
{
    return qobject_cast<KTLayersPaletteController *>(m_layersPaletteController.data());
}

void KTLayerPanelController::useLayersPaletteController(QObject *controller)
{
    m_layersPaletteController = controller;
}

QUndoStack *KTLayerPanelController::undoStack() const
{
    if (KTLayersPaletteController *palette = layersPaletteController()) {
        if (QUndoStack *stack = palette->undoStack())
            return stack;
    }
    platform::WindowController *window = windowController();
    auto *document = window ? qobject_cast<platform::Document *>(window->document()) : nullptr;
    return document && document->hasUndoManager() ? document->undoManager() : nullptr;
}

void KTLayerPanelController::setRepresentedObject(const QVariant &object)
{
    XSViewController::setRepresentedObject(object);
    view();
    m_controls->setTarget(qobject_cast<KTLayer *>(object.value<QObject *>()));
    layerWasSet();
}

void KTLayerPanelController::activateViewController()
{
    if (KTLayersPaletteController *palette = layersPaletteController(); palette && layer())
        palette->selectLayer(layer());
}

QWidget *KTLayerPanelController::loadView()
{
    auto *view = new QWidget;
    view->setObjectName(nibName());
    auto *layout = new QVBoxLayout(view);
    layout->setContentsMargins(8, 6, 8, 8);
    layout->setSpacing(4);
    buildControls(layout);
    layout->addStretch(1);
    return view;
}

void KTLayerPanelController::addFrameColorControls(QVBoxLayout *layout)
{
    auto *row = new QHBoxLayout;
    QCheckBox *colorize = m_controls->addCheckBox(row, tr("Colorize"), "colorize");
    m_colorizeColorWell = m_controls->addColorWell(row, QString(), "colorizationColor");
    addEyedropper(row, m_colorizeColorWell);
    row->addStretch(1);
    m_rotateView = new VLRotateView;
    row->addWidget(m_rotateView);
    layout->addLayout(row);
    connect(colorize, &QCheckBox::clicked, this, [this] { activateColorWell(); });
    QPointer<VLRotateView> rotate(m_rotateView);
    m_controls->addRefresher([this, rotate] {
        if (rotate)
            rotate->displayRotation(m_controls->read("rotation").toUInt(), rotate->isVisible());
    });
    connect(m_rotateView, &VLRotateView::rotationEdited, m_controls,
            [this](unsigned rotation) { m_controls->write("rotation", rotation); });

    m_controls->addSlider(layout, tr("Saturation"), "saturationShift", 0.0, 2.0, 100, 1.0);
    m_controls->addSlider(layout, tr("Lightness"), "lightnessShift", -3.0, 3.0, 10, 0.0);
    m_controls->addSlider(layout, tr("Opacity"), "opacity", 0.0, 1.0, 100);

    // The user's choice of a shadow is also the one the next new frame takes.
    QCheckBox *shadow = m_controls->addCheckBox(layout, tr("Drop shadow"), "dropShadow");
    connect(shadow, &QCheckBox::clicked, this, [this](bool on) {
        auto *frame = qobject_cast<KTFrameLayer *>(layer());
        if (!frame)
            return;
        platform::UserDefaults &defaults = platform::UserDefaults::standard();
        KTFrameLayer::NewLayerSettings next = KTFrameLayer::NewLayerSettings::fromDefaults(defaults);
        frame->setDropShadowByUser(on, next);
        next.saveTo(defaults);
    });
    // The shadow's length counts only while the frame casts one.
    QPointer<KTPanelSlider> length = m_controls->addSlider(layout, tr("Shadow"), "shadowLength", 0.0, 1.0, 100);
    m_controls->addRefresher([this, length] {
        if (length)
            length->setEnabled(m_controls->read("dropShadow").toBool());
    });
}

void KTLayerPanelController::addEyedropper(QBoxLayout *row, VLColorWell *well)
{
    auto *button = new QToolButton;
    // A cross-hair drawn here: no font is sure to hold such a sign.
    QPixmap mark(16, 16);
    mark.fill(Qt::transparent);
    {
        QPainter p(&mark);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(button->palette().color(QPalette::ButtonText), 1.4));
        p.drawEllipse(QPointF(8, 8), 4.5, 4.5);
        p.drawLine(QPointF(8, 1), QPointF(8, 5));
        p.drawLine(QPointF(8, 11), QPointF(8, 15));
        p.drawLine(QPointF(1, 8), QPointF(5, 8));
        p.drawLine(QPointF(11, 8), QPointF(15, 8));
    }
    button->setIcon(QIcon(mark));
    button->setToolTip(tr("Pick a colour from the window (Escape cancels)"));
    button->setAutoRaise(true);
    row->addWidget(button);
    QPointer<VLColorWell> target(well);
    connect(button, &QToolButton::clicked, this, [target] { KTEyedropper::pickColorForWell(target); });
}

void KTLayerPanelController::activateColorWell()
{
    if (m_colorizeColorWell && m_controls->read("colorize").toBool() && VLColorWell::sharedColorDialogIsVisible())
        m_colorizeColorWell->activate();
}

void KTFullFrameLayerPanelController::buildControls(QVBoxLayout *layout)
{
    addFrameColorControls(layout);
    m_controls->addSlider(layout, tr("Scale"), "scale", 0.25, 2.0, 100, 1.0);
}

void KTMoldingFrameLayerPanelController::buildControls(QVBoxLayout *layout)
{
    addFrameColorControls(layout);
    m_controls->addSlider(layout, tr("Width"), "frameWidth", 0.0, 0.4, 100);
    m_controls->addSlider(layout, tr("Over photo"), "frameOverImage", 0.0, 1.0, 100);
}

KTAltLock::KTAltLock(bool locked, QObject *parent)
    : QObject(parent)
    , m_lockSliders(locked)
{
    m_observer = platform::NotificationCenter::defaultCenter().addObserver(
        QStringLiteral("flagsChangedNotification"), nullptr,
        [this](const platform::Notification &notification) {
            const auto *event = static_cast<const QKeyEvent *>(notification.sender);
            if (!event)
                return;
            // The Alt key's own press and release say it best; other keys carry it in their modifiers.
            altState(event->key() == Qt::Key_Alt ? event->type() == QEvent::KeyPress
                                                 : bool(event->modifiers() & Qt::AltModifier));
        },
        this);
    // Alt let go in another window never reaches this one: look again when a window becomes active.
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this] {
        if (m_altWasPressed && !(QGuiApplication::queryKeyboardModifiers() & Qt::AltModifier))
            altState(false);
    });
}

KTAltLock::~KTAltLock()
{
    platform::NotificationCenter::defaultCenter().removeObserver(m_observer);
}

void KTAltLock::setLockSliders(bool locked)
{
    if (locked == m_lockSliders)
        return;
    m_lockSliders = locked;
    emit lockChanged(locked);
}

void KTAltLock::altState(bool down)
{
    if (down == m_altWasPressed)
        return;
    m_altWasPressed = down;
    setLockSliders(!m_lockSliders);
}

namespace {

QCheckBox *addLockBox(QVBoxLayout *layout, KTAltLock *lock, const QString &title)
{
    auto *box = new QCheckBox(title);
    box->setToolTip(QObject::tr("Hold Alt to switch"));
    box->setChecked(lock->lockSliders());
    layout->addWidget(box);
    QObject::connect(box, &QCheckBox::clicked, lock, &KTAltLock::setLockSliders);
    QObject::connect(lock, &KTAltLock::lockChanged, box, &QCheckBox::setChecked);
    return box;
}

} // namespace

KTImageLayerPanelController::KTImageLayerPanelController(const QString &nibName,
                                                         platform::WindowController *windowController, QObject *parent)
    : KTLayerPanelController(nibName, windowController, parent)
    , m_lock(new KTAltLock(false, this))
{
}

void KTImageLayerPanelController::buildControls(QVBoxLayout *layout)
{
    const double maxCrop = KTImageLayer::kMaxCrop;
    struct Side {
        QString title;
        const char *key;
    };
    const Side sides[] = {{tr("Crop left"), "cropLeft"},
                          {tr("Crop right"), "cropRight"},
                          {tr("Crop top"), "cropTop"},
                          {tr("Crop bottom"), "cropBottom"}};
    for (const Side &side : sides) {
        KTPanelSlider *slider = m_controls->addSlider(layout, side.title, side.key, 0.0, maxCrop, 100);
        disconnect(slider, &KTPanelSlider::edited, m_controls, nullptr);
        const QByteArray key(side.key);
        connect(slider, &KTPanelSlider::edited, this, [this, key](double value, bool starts) {
            if (key == "cropLeft") {
                cropLeftMoved(value, !starts);
                return;
            }
            // A crop may move the opposite one: all four go in one step, so Undo puts both back.
            KTBoundControls::Values values;
            for (const char *other : {"cropLeft", "cropRight", "cropTop", "cropBottom"}) {
                if (key != other)
                    values.append({other, m_controls->read(other)});
            }
            values.append({key, value});
            m_controls->write(values, !starts);
        });
    }
    addLockBox(layout, m_lock, tr("Crop all sides alike"));
}

void KTImageLayerPanelController::cropLeftMoved(double value, bool continuing)
{
    const float v = float(value);
    double crop = v;
    const bool locked = m_lock->lockSliders();
    if (locked && 2 * v > 0.95f)
        crop = 0.475;
    KTBoundControls::Values values;
    if (locked) {
        values = {{"cropRight", crop}, {"cropBottom", crop}, {"cropTop", crop}, {"cropLeft", crop}};
    } else {
        for (const char *other : {"cropRight", "cropTop", "cropBottom"})
            values.append({other, m_controls->read(other)});
        values.append({"cropLeft", crop});
    }
    m_controls->write(values, continuing);
}

KTColorMatFrameLayerPanelController::KTColorMatFrameLayerPanelController(
    const QString &nibName, platform::WindowController *windowController, QObject *parent)
    : KTLayerPanelController(nibName, windowController, parent)
    , m_lock(new KTAltLock(true, this))
{
}

void KTColorMatFrameLayerPanelController::buildControls(QVBoxLayout *layout)
{
    auto *wells = new QHBoxLayout;
    m_matColorWell = m_controls->addColorWell(wells, tr("Mat"), "matColor");
    addEyedropper(wells, m_matColorWell);
    wells->addStretch(1);
    VLColorWell *bevel = m_controls->addColorWell(wells, tr("Bevel"), "bevelColor");
    addEyedropper(wells, bevel);
    layout->addLayout(wells);
    KTPanelSlider *left = m_controls->addSlider(layout, tr("Left"), "leftWidth", 0.0, KTColorMatLayer::kMaxSideWidth, 100);
    disconnect(left, &KTPanelSlider::edited, m_controls, nullptr);
    connect(left, &KTPanelSlider::edited, this,
            [this](double value, bool starts) { leftSliderMoved(value, !starts); });
    m_controls->addSlider(layout, tr("Right"), "rightWidth", 0.0, KTColorMatLayer::kMaxSideWidth, 100);
    m_controls->addSlider(layout, tr("Top"), "topWidth", 0.0, KTColorMatLayer::kMaxSideWidth, 100);
    m_controls->addSlider(layout, tr("Bottom"), "bottomWidth", 0.0, KTColorMatLayer::kMaxSideWidth, 100);
    addLockBox(layout, m_lock, tr("Left width sets all sides"));
    m_controls->addSlider(layout, tr("Bevel"), "bevelWidth", 0.0, KTColorMatLayer::kMaxBevelWidth, 100);
    m_controls->addSlider(layout, tr("Opacity"), "opacity", 0.0, 1.0, 100);
    m_controls->addSlider(layout, tr("Shadow"), "shadowLength", 0.0, 1.0, 100);

    // The mat's icon in the strip shows its colour.
    m_controls->addRefresher([this] {
        auto *mat = qobject_cast<KTColorMatLayer *>(layer());
        if (!mat || mat->matColor() == m_shownMatColor)
            return;
        const bool first = !m_shownMatColor.isValid();
        m_shownMatColor = mat->matColor();
        if (first)
            return;
        mat->updateIcon();
        if (KTLayersPaletteController *palette = layersPaletteController())
            palette->refreshIconForLayer(mat);
    });
}

void KTColorMatFrameLayerPanelController::layerWasSet()
{
    if (auto *mat = qobject_cast<KTColorMatLayer *>(layer()))
        m_shownMatColor = mat->matColor();
}

void KTColorMatFrameLayerPanelController::leftSliderMoved(double value, bool continuing)
{
    const float v = float(value);
    if (m_lock->lockSliders())
        m_controls->write({{"rightWidth", v}, {"bottomWidth", v}, {"topWidth", v}, {"leftWidth", v}}, continuing);
    else
        m_controls->write({{"leftWidth", value}}, continuing);
}

void KTLayerPanelController::registerControllers()
{
    auto add = [](const char *name, auto make) {
        KTControllerRegistry::registerClass(QString::fromLatin1(name), make);
    };
    add("KTFullFrameLayerPanelController",
        [](const QString &nib, platform::WindowController *window, QObject *parent) -> XSViewController * {
            return new KTFullFrameLayerPanelController(nib, window, parent);
        });
    add("KTMoldingFrameLayerPanelController",
        [](const QString &nib, platform::WindowController *window, QObject *parent) -> XSViewController * {
            return new KTMoldingFrameLayerPanelController(nib, window, parent);
        });
    add("KTImageLayerPanelController",
        [](const QString &nib, platform::WindowController *window, QObject *parent) -> XSViewController * {
            return new KTImageLayerPanelController(nib, window, parent);
        });
    add("KTTemplateControlsViewController",
        [](const QString &nib, platform::WindowController *window, QObject *parent) -> XSViewController * {
            return new KTTemplateControlsViewController(nib, window, parent);
        });
    add("KTOverlayControlsViewController",
        [](const QString &nib, platform::WindowController *window, QObject *parent) -> XSViewController * {
            return new KTOverlayControlsViewController(nib, window, parent);
        });
    add("KTColorMatFrameLayerPanelController",
        [](const QString &nib, platform::WindowController *window, QObject *parent) -> XSViewController * {
            return new KTColorMatFrameLayerPanelController(nib, window, parent);
        });
}
