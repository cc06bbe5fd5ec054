// passlet FILE... | --clipboard: hands image files, or what the clipboard
// holds, to Kantelo, the one running or a new one. "Open with" runs it.
#include "extensions/share/Passlet.h"
#include "platform/handoff/Handoff.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdio>
#include <memory>

namespace {

constexpr const char *kUsage = "Usage: passlet FILE... | --clipboard\n"
                               "Hands image files, or the picture or files on the clipboard, to Kantelo.\n";
constexpr const char *kClipboardOption = "--clipboard";
constexpr const char *kNoDisplay = "reading the clipboard needs a display";
constexpr int kFailed = 1;
constexpr int kUsageStatus = 2;

int fail(const QString &message, int status = kFailed)
{
    std::fprintf(stderr, "passlet: %s\n", message.toLocal8Bit().constData());
    return status;
}

int usage(const QString &message)
{
    std::fprintf(stderr, "passlet: %s\n%s", message.toLocal8Bit().constData(), kUsage);
    return kUsageStatus;
}

// A GUI application without a display to reach ends the program; say why first.
bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char *argv[])
{
    bool clipboard = false;
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument == QLatin1String(kClipboardOption))
            clipboard = true;
        else if (argument.startsWith(QLatin1Char('-')))
            return usage(QStringLiteral("unknown option “%1”").arg(argument));
        else
            files.append(argument);
    }
    if (clipboard && !files.isEmpty())
        return usage(QStringLiteral("either files or --clipboard, not both"));
    if (!clipboard && files.isEmpty())
        return usage(QStringLiteral("no files to hand over"));
    if (clipboard && !hasDisplay())
        return fail(QString::fromLatin1(kNoDisplay));

    // The clipboard needs the GUI; files alone run without a display.
    std::unique_ptr<QCoreApplication> app;
    if (clipboard)
        app = std::make_unique<QGuiApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);

    platform::Error error;
    if (clipboard) {
        files = Passlet::filesFromClipboard(QGuiApplication::clipboard()->mimeData(), &error);
        if (files.isEmpty())
            return fail(error.description);
    }
    if (!Passlet::checkReadable(files, &error))
        return fail(error.description);
    if (!platform::Handoff::openFilesWithApplication(files, &error))
        return fail(error.description);
    return 0;
}
