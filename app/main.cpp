#include "app/AppDelegate.h"
#include "app/KTDocumentController.h"
#include "kit/VLKitUtils.h"
#include "platform/imaging/ImageDecoder.h"
#include "platform/ui/Application.h"
#include "platform/ui/MessageBoxPresenter.h"
#include "platform/ui/SingleInstance.h"

#include <QApplication>
#include <QWidget>
#include <QFileInfo>
#include <QUrl>

namespace {

// The files named on the command line (options are left out).
QStringList fileArguments(const QStringList &arguments)
{
    QStringList files;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (!arguments.at(i).startsWith(QLatin1Char('-')))
            files.append(arguments.at(i));
    }
    return files;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    app.setOrganizationName(QStringLiteral("Kantelo"));
    app.setApplicationName(QStringLiteral("Kantelo"));
    app.setApplicationVersion(VLKitUtils::shortVersionString());

    const QStringList files = fileArguments(app.arguments());
    platform::SingleInstance instance;
    if (instance.sendToRunningInstance(files))
        return 0;
    instance.listen();

    platform::installMessageBoxPresenters();
    platform::ImageDecoder::raiseAllocationLimit();
    VLKitUtils::load();
    AppDelegate::initialize();

    AppDelegate delegate;
    platform::Application application(&delegate);

    QObject::connect(&instance, &platform::SingleInstance::filesReceived, &app, [](const QStringList &paths) {
        QList<QUrl> urls;
        for (const QString &path : paths)
            urls.append(QUrl::fromLocalFile(path));
        KTDocumentController::sharedDocumentController()->openDocumentsWithURLs(urls);
    });
    // Without a menu bar to quit from, closing the last window is the quit.
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &application, [&application] {
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (window->isVisible())
                return;
        }
        application.terminate();
    });

    application.finishLaunching(files);
    return app.exec();
}
