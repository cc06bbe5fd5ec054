#include "app/KTBottomBarViewController.h"

#include "app/KTAlertsViewController.h"
#include "app/KTPresentationSettings.h"
#include "app/KTViewState.h"
#include "platform/Assert.h"

#include <QFrame>
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
    m_alertsButton->setToolTip(tr(KTAlertsViewController::kNewAlertsFormat).arg(count));
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
    m_plusButton->setEnabled(m_plusButtonEnabled);
    m_minusButton->setEnabled(m_minusButtonEnabled);
    connect(m_plusButton, &QPushButton::clicked, this, &KTBottomBarViewController::plusButtonPressed);
    connect(m_minusButton, &QPushButton::clicked, this, &KTBottomBarViewController::minusButtonPressed);

    layout->addStretch(1);
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

    m_slider = new QSlider(Qt::Horizontal, view);
    m_slider->setObjectName(QStringLiteral("colorSlider"));
    m_slider->setRange(0, kSliderSteps);
    m_slider->setFixedWidth(140);
    m_slider->setFocusPolicy(Qt::NoFocus);
    m_slider->setValue(int(std::lround(m_colorSliderPosition * kSliderSteps)));
    connect(m_slider, &QSlider::valueChanged, this,
            [this](int value) { setColorSliderPosition(double(value) / kSliderSteps); });
    layout->addWidget(m_slider);
    return view;
}

void KTBottomBarViewController::setViewState(const std::shared_ptr<KTViewState> &viewState)
{
    m_viewState = viewState;
    setRepresentedObject(QVariant::fromValue(static_cast<QObject *>(viewState.get())));
    recolorViewState();
}

void KTBottomBarViewController::setTemplate(const std::shared_ptr<KTTemplate> &design)
{
    KT_ASSERT(!m_template, kTemplateSetTwice);
    m_template = design;
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
    recolorViewState();
}

void KTBottomBarViewController::setRightColor(const Color &color)
{
    m_rightColor = color;
    recolorViewState();
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
