#include "app/KTWelcomeWindow.h"

#include "kit/VLKitUtils.h"
#include "kit/VLWAnalytics.h"
#include "platform/Assert.h"
#include "platform/ui/DocumentController.h"

#include <QDate>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {
constexpr int kProgressSteps = 1000; // the bar runs 0..1 in these steps
}

KTWelcomeWindow::KTWelcomeWindow(QObject *parent)
    : platform::WindowController(QStringLiteral("KTWelcomeWindow"), parent)
{
}

KTWelcomeWindow::~KTWelcomeWindow() = default;

QWidget *KTWelcomeWindow::loadWindow()
{
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
    m_openImageButton = new QPushButton(QStringLiteral("Open Image…"), window);
    m_openImageButton->setObjectName(QStringLiteral("openImageButton"));
    QObject::connect(m_openImageButton, &QPushButton::clicked, this, &KTWelcomeWindow::openImageInWelcome);
    layout->addWidget(m_openImageButton);

    layout->addStretch(1);
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

    window->resize(520, 360);
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
