#include "library/LibraryUpdateWindowController.h"

#include "app/AppDelegate.h"
#include "stores/LibraryStore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWidget>

namespace {

// Where the library update service lives, and what this copy calls itself
// in the requests that carry an account.
constexpr const char *kLibraryUpdateServiceURL = "http://library.velmoorsoft.com/";
constexpr const char *kAccountSegment = "kantelo-linux";

} // namespace

LibraryUpdateWindowController::LibraryUpdateWindowController(LibraryStore *library, QObject *parent)
    : WindowController(QString::fromLatin1(kNibName), parent)
    , m_library(library)
{
}

LibraryUpdateWindowController::~LibraryUpdateWindowController()
{
    // The engine goes first: a run still going is cancelled and reports nowhere.
    delete m_updateEngine;
    m_updateEngine = nullptr;
    delete window();
}

QWidget *LibraryUpdateWindowController::loadWindow()
{
    auto *window = new QWidget(nullptr, Qt::Window);
    window->setObjectName(QString::fromLatin1(kNibName));
    window->setWindowTitle(tr("Library Update"));
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    auto *column = new QVBoxLayout(window);
    column->setContentsMargins(18, 14, 18, 14);
    column->setSpacing(6);
    m_nowDoingLabel = new QLabel(tr("Library update"), window);
    m_nowDoingLabel->setObjectName(QStringLiteral("nowDoingLabel"));
    QFont bold = m_nowDoingLabel->font();
    bold.setBold(true);
    m_nowDoingLabel->setFont(bold);
    m_progressIndicatorLabel = new QLabel(window);
    m_progressIndicatorLabel->setObjectName(QStringLiteral("progressIndicatorLabel"));
    m_progressIndicator = new QProgressBar(window);
    m_progressIndicator->setObjectName(QStringLiteral("progressIndicator"));
    m_progressIndicator->setTextVisible(false);
    m_progressIndicator->setRange(0, 1);
    m_progressIndicator->setValue(0);
    auto *buttons = new QHBoxLayout;
    m_showLogButton = new QPushButton(tr("Show Log"), window);
    m_showLogButton->setObjectName(QStringLiteral("showLogButton"));
    m_showLogButton->setCheckable(true);
    m_cancelButton = new QPushButton(tr("Cancel"), window);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    buttons->addWidget(m_showLogButton);
    buttons->addStretch();
    buttons->addWidget(m_cancelButton);
    m_logTextView = new QPlainTextEdit(window);
    m_logTextView->setObjectName(QStringLiteral("logTextView"));
    m_logTextView->setReadOnly(true);
    m_logTextView->setLineWrapMode(QPlainTextEdit::NoWrap);
    column->addWidget(m_nowDoingLabel);
    column->addWidget(m_progressIndicatorLabel);
    column->addWidget(m_progressIndicator);
    column->addLayout(buttons);
    column->addWidget(m_logTextView, 1);
    column->addStretch(0);
    connect(m_showLogButton, &QPushButton::clicked, this, &LibraryUpdateWindowController::showLogButtonPressed);
    connect(m_cancelButton, &QPushButton::clicked, this, &LibraryUpdateWindowController::cancelButtonPressed);
    window->resize(kWindowWidth, kHeightWithoutLog);
    return window;
}

void LibraryUpdateWindowController::windowDidLoad()
{
    m_cancelButton->setEnabled(m_isUpdating);
    resizeWindowBasedOnLogButton();
}

void LibraryUpdateWindowController::showLogButtonPressed()
{
    resizeWindowBasedOnLogButton();
}

void LibraryUpdateWindowController::cancelButtonPressed()
{
    if (m_updateEngine)
        m_updateEngine->cancelUpdate();
}

void LibraryUpdateWindowController::resizeWindowBasedOnLogButton()
{
    QWidget *w = window();
    if (!w || !m_showLogButton)
        return;
    const bool showLog = m_showLogButton->isChecked();
    m_logTextView->setVisible(showLog);
    m_showLogButton->setText(showLog ? tr("Hide Log") : tr("Show Log"));
    const int height = showLog ? kHeightWithLog : kHeightWithoutLog;
    // The top edge stays where it is; the window grows downwards.
    w->setFixedHeight(height);
    w->setMinimumWidth(kWindowWidth);
}

LibraryUpdateEngine *LibraryUpdateWindowController::setupUpdateEngine()
{
    if (!m_updateEngine) {
        m_updateEngine = new LibraryUpdateEngine(this, m_library);
        m_updateEngine->setServiceURL(QUrl(QString::fromLatin1(kLibraryUpdateServiceURL)));
        m_updateEngine->setAccountSegment(QString::fromLatin1(kAccountSegment));
        m_updateEngine->setApplicationUpdateCheck([] {
            if (AppDelegate *delegate = AppDelegate::shared())
                delegate->checkUpdates();
        });
    }
    return m_updateEngine;
}

std::function<std::optional<QStringList>()> LibraryUpdateWindowController::checkUpdates()
{
    return setupUpdateEngine()->pendingUpdatesCount();
}

void LibraryUpdateWindowController::startUpdating()
{
    if (m_isUpdating)
        return;
    window();
    m_isUpdating = true;
    m_cancelButton->setEnabled(true);
    m_progressIndicator->setRange(0, 0);
    addLineToLog(QString::fromLatin1(kStartingLog));
    setupUpdateEngine()->startUpdate();
    emit updatingChanged(true);
}

void LibraryUpdateWindowController::setStatus(const QString &status)
{
    window();
    m_nowDoingLabel->setText(status);
}

void LibraryUpdateWindowController::setProgressIndicatorText(const QString &text)
{
    window();
    m_progressIndicatorLabel->setText(text);
}

void LibraryUpdateWindowController::addLineToLog(const QString &line)
{
    window();
    // Lines go at the end, each after its moment.
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss +0000"));
    QTextCursor cursor(m_logTextView->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QStringLiteral("%1: %2\n").arg(stamp, line));
    m_logTextView->verticalScrollBar()->setValue(m_logTextView->verticalScrollBar()->maximum());
}

void LibraryUpdateWindowController::setProgress(int maximum, int value)
{
    window();
    m_progressIndicator->setRange(0, maximum);
    m_progressIndicator->setValue(value);
}

void LibraryUpdateWindowController::ended(const char *text, bool finished)
{
    window();
    m_isUpdating = false;
    m_cancelButton->setEnabled(false);
    m_nowDoingLabel->setText(QString::fromLatin1(text));
    m_progressIndicatorLabel->clear();
    if (m_progressIndicator->maximum() == 0)
        m_progressIndicator->setRange(0, 1);
    if (finished)
        m_progressIndicator->setValue(m_progressIndicator->maximum());
    addLineToLog(QString::fromLatin1(text));
    emit updatingChanged(false);
}

void LibraryUpdateWindowController::updateEnded()
{
    ended(kFinished, true);
}

void LibraryUpdateWindowController::updateCancelled()
{
    ended(kCancelled, false);
}

void LibraryUpdateWindowController::closeWindow()
{
    close();
}
