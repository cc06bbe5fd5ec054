#include "platform/ui/OpenWithDesktop.h"

#include "platform/Alert.h"
#include "platform/Log.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>

#include <mutex>

namespace platform {

namespace {

std::mutex g_openerMutex;
DesktopOpener g_opener;

// Shows the alert, whose first button copies `text`.
void offerToCopy(const AlertRequest &request, const QString &text)
{
    if (runAlert(request) == 0 && qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        QGuiApplication::clipboard()->setText(text);
}

} // namespace

void setDesktopOpener(DesktopOpener opener)
{
    std::lock_guard<std::mutex> lock(g_openerMutex);
    g_opener = std::move(opener);
}

bool openWithDesktop(const QUrl &url)
{
    DesktopOpener opener;
    {
        std::lock_guard<std::mutex> lock(g_openerMutex);
        opener = g_opener;
    }
    if (opener ? opener(url) : QDesktopServices::openUrl(url))
        return true;

    // The desktop only logs its failure: without a word here the command
    // would seem to do nothing.
    logLine(QStringLiteral("Warning: The desktop could not open %1").arg(url.toString()));
    if (url.isLocalFile()) {
        const QFileInfo file(url.toLocalFile());
        tellFileNotOpened(file.absoluteFilePath(), QString::fromUtf8(kFileNotOpenedMessage).arg(file.fileName()),
                          QString::fromUtf8(kFileNotOpenedText).arg(QDir::toNativeSeparators(file.absolutePath())));
        return false;
    }
    AlertRequest request;
    request.style = AlertRequest::Style::Warning;
    request.messageText = QString::fromLatin1(kWebPageNotOpenedMessage);
    request.informativeText = QString::fromLatin1(kWebPageNotOpenedText).arg(url.toString());
    request.buttons = {QString::fromLatin1(kCopyAddressButton), QStringLiteral("OK")};
    offerToCopy(request, url.toString());
    return false;
}

void tellFileNotOpened(const QString &path, const QString &messageText, const QString &informativeText)
{
    AlertRequest request;
    request.style = AlertRequest::Style::Warning;
    request.messageText = messageText;
    request.informativeText = informativeText;
    request.buttons = {QString::fromLatin1(kCopyPathButton), QStringLiteral("OK")};
    offerToCopy(request, QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
}

} // namespace platform
