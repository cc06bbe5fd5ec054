#include "platform/ui/Application.h"

#include "platform/ui/DocumentController.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QUrl>
#include <QApplication>
#include <QGuiApplication>
#include <QWidget>
#include <QPointer>

namespace platform {

namespace {
QPointer<Application> g_shared;
}

Application::Application(ApplicationDelegate *delegate, QObject *parent)
    : QObject(parent)
    , m_delegate(delegate)
    , m_quit([this] { quitUnlessAWindowStays(); })
{
    g_shared = this;
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        app->setQuitOnLastWindowClosed(false);
}

Application::~Application()
{
    if (g_shared == this)
        g_shared = nullptr;
}

Application *Application::shared()
{
    return g_shared.data();
}

void Application::finishLaunching(const QStringList &files)
{
    if (m_running)
        return;
    if (m_delegate)
        m_delegate->applicationWillFinishLaunching();
    m_running = true;
    DocumentController *controller = DocumentController::sharedDocumentController();
    QList<QUrl> urls;
    for (const QString &file : files)
        urls.append(QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()));
    controller->openDocumentsWithURLs(urls);
    if (m_delegate)
        m_delegate->applicationDidFinishLaunching();
    if (controller->documents().isEmpty() && (!m_delegate || m_delegate->applicationShouldOpenUntitledFile())) {
        Error error;
        if (!controller->openUntitledDocumentAndDisplay(true, &error) && !error.isNull())
            presentError(error);
    }
}

void Application::setQuitHandler(std::function<void()> handler)
{
    m_quit = std::move(handler);
}

void Application::terminate()
{
    if (m_terminating || m_awaitingReply)
        return;
    if (DocumentController *controller = DocumentController::sharedDocumentController(false)) {
        if (!controller->reviewUnsavedDocuments())
            return;
    }
    const auto reply = m_delegate ? m_delegate->applicationShouldTerminate() : ApplicationDelegate::TerminateReply::Now;
    switch (reply) {
    case ApplicationDelegate::TerminateReply::Now:
        finishTerminating();
        break;
    case ApplicationDelegate::TerminateReply::Later:
        m_awaitingReply = true;
        break;
    case ApplicationDelegate::TerminateReply::Cancel:
        break;
    }
}

void Application::replyToApplicationShouldTerminate(bool shouldTerminate)
{
    if (!m_awaitingReply)
        return;
    m_awaitingReply = false;
    if (shouldTerminate)
        finishTerminating();
}

void Application::quitUnlessAWindowStays()
{
    // Qt's quit asks every window to close and is dropped without a word
    // when one refuses, leaving a program that has given up its documents
    // and takes no further quit. Asked here first, a window that stays keeps
    // the program running, ready to quit again.
    if (qobject_cast<QApplication *>(QCoreApplication::instance())) {
        QApplication::closeAllWindows();
        for (const QWidget *window : QApplication::topLevelWidgets()) {
            if (window->isVisible()) {
                m_terminating = false;
                return;
            }
        }
    }
    QCoreApplication::quit();
}

void Application::finishTerminating()
{
    m_terminating = true;
    if (m_delegate)
        m_delegate->applicationWillTerminate();
    emit willTerminate();
    if (DocumentController *controller = DocumentController::sharedDocumentController(false))
        controller->closeAllDocuments();
    if (m_quit)
        m_quit();
}

} // namespace platform
