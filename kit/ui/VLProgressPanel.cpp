#include "kit/ui/VLProgressPanel.h"
#include "platform/ui/WindowPlacement.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>

namespace {
constexpr int kMinimumWidth = 300;
constexpr int kHeight = 64;
constexpr int kMargin = 16;
// The bar works in int; large totals are scaled down to fit.
constexpr qint64 kBarSteps = 1 << 30;
} // namespace

VLProgressPanel::VLProgressPanel(const Spec &spec)
    : m_maximum(spec.maximum)
{
    // Floats over the window the user works in: a click there must not bury it.
    auto *window = new QWidget(QApplication::activeWindow(), Qt::Tool | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
    window->setObjectName(QStringLiteral("VLLongProcessPanel"));
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->setWindowTitle(spec.title);
    m_window = window;

    m_label = new QLabel(window);
    m_label->setObjectName(QStringLiteral("progressLabel"));
    m_label->setTextFormat(Qt::PlainText);
    m_label->setText(spec.widestLabel);
    m_label->adjustSize();
    const int labelWidth = m_label->width();
    const int width = labelWidth + 2 * kMargin > kMinimumWidth ? labelWidth + 2 * kMargin : kMinimumWidth;
    m_label->setGeometry(kMargin, 10, width - 2 * kMargin, m_label->sizeHint().height());

    m_bar = new QProgressBar(window);
    m_bar->setObjectName(QStringLiteral("progressIndicator"));
    m_bar->setTextVisible(false);
    m_bar->setRange(0, int(std::min(m_maximum, kBarSteps)));
    m_bar->setValue(0);
    m_bar->setGeometry(kMargin, kHeight - 16 - kMargin, width - 2 * kMargin, 16);

    window->setFixedSize(width, kHeight);
    platform::placeWindowOnScreen(window);
    window->show();
    window->raise();
    window->activateWindow();
}

VLProgressPanel::~VLProgressPanel()
{
    delete m_window.data();
}

void VLProgressPanel::setLabelText(const QString &text)
{
    if (m_label)
        m_label->setText(text);
}

void VLProgressPanel::setProgressValue(qint64 value)
{
    if (!m_bar || m_maximum <= 0)
        return;
    const qint64 clamped = std::clamp<qint64>(value, 0, m_maximum);
    const qint64 scaled = m_maximum > kBarSteps ? qint64(double(clamped) / m_maximum * kBarSteps) : clamped;
    m_bar->setValue(int(scaled));
}

void VLProgressPanel::close()
{
    if (m_window)
        m_window->hide();
}

void VLProgressPanel::install()
{
    VLLongProcessPanel::setFactory([](const Spec &spec) -> std::unique_ptr<VLLongProcessPanel> {
        return std::make_unique<VLProgressPanel>(spec);
    });
}
