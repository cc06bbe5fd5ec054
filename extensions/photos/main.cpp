// retouchlet: the editor an image manager calls for a photo. The photo is
// framed in Kantelo, and Done returns the result as a JPEG.
#include "extensions/photos/PhotoEditingViewController.h"
#include "platform/TemporaryNames.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QIcon>
#include <QImageReader>
#include <QMessageBox>

#include <climits>
#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char *kUsage =
    "Usage: retouchlet [--adjustment-data=FILE] PHOTO [OUTPUT]\n"
    "\n"
    "Frames a photo in Kantelo for an image manager. A copy of PHOTO opens in\n"
    "Kantelo (a running one takes it over); save it there, and the preview here\n"
    "follows. Done writes the result as a JPEG to OUTPUT (a name ending in .jpg\n"
    "or .jpeg), or over PHOTO when no OUTPUT is given; Cancel leaves PHOTO\n"
    "untouched. The working copy lies in\n"
    "$XDG_CACHE_HOME/com.velmoorsoft.Kantelo3.Retouchlet/ and stays there when\n"
    "nothing was written.\n"
    "\n"
    "  --adjustment-data=FILE  also writes FILE, a JSON object naming the edit:\n"
    "                          {\"formatIdentifier\": \"com.velmoorsoft.Kantelo\",\n"
    "                           \"formatVersion\": \"1\", \"data\": \"\"}\n"
    "  -h, --help              prints this text\n"
    "\n"
    "For scripts:\n"
    "  --script                prints \"working-copy PATH\" and \"preview WxH\" lines on\n"
    "                          standard output (PATH with \"%\", line breaks and other\n"
    "                          control characters percent-encoded: %25, %0A, ...) and\n"
    "                          takes the lines \"done\" or \"cancel\" on standard input\n"
    "                          as presses of the buttons (its end cancels)\n"
    "\n"
    "Exit status: 0 written, 1 cancelled, 2 wrong arguments, 3 not written.\n";

// The files named, as the file system has them: bytes, which need not be
// UTF-8 (no QString holds them then), absolute.
QList<QByteArray> fileArguments(int argc, char *argv[])
{
    QByteArray here;
    char folder[PATH_MAX];
    if (::getcwd(folder, sizeof folder))
        here = QByteArray(folder);
    QList<QByteArray> files;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const QByteArray word(argv[i]);
        if (options && word == "--") {
            options = false;
        } else if (options && word.size() > 1 && word.startsWith('-')) {
            if (word == "--adjustment-data")
                ++i; // its value follows
        } else {
            files.append(word.startsWith('/') || here.isEmpty() ? word : here + '/' + word);
        }
    }
    return files;
}

bool isFolder(const QByteArray &path)
{
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

int usageError(const QString &message)
{
    std::fputs(QStringLiteral("ERROR: %1\n").arg(message).toLocal8Bit().constData(), stderr);
    return PhotoEditingViewController::Usage;
}

} // namespace

int main(int argc, char *argv[])
{
    // The arguments are read before a display is needed, so --help and
    // mistakes are answered anywhere.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption adjustmentData(QStringLiteral("adjustment-data"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption script(QStringLiteral("script"));
    parser.addOptions({help, adjustmentData, script});
    parser.addPositionalArgument(QStringLiteral("PHOTO"), QString());
    if (!parser.parse(arguments))
        return usageError(parser.errorText() + QStringLiteral(" (see retouchlet --help)"));
    if (parser.isSet(help)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty() || positional.size() > 2)
        return usageError(QStringLiteral("retouchlet takes one photo and at most one output file (see retouchlet --help)"));

    PhotoEditingViewController::Options options;
    options.photo = QFileInfo(positional.at(0)).absoluteFilePath();
    options.output = positional.size() > 1 ? QFileInfo(positional.at(1)).absoluteFilePath() : QString();
    options.adjustmentData = parser.isSet(adjustmentData) ? QFileInfo(parser.value(adjustmentData)).absoluteFilePath()
                                                          : QString();
    options.script = parser.isSet(script);
    // The same files by the names the file system gives them.
    if (const QList<QByteArray> files = fileArguments(argc, argv); files.size() == positional.size()) {
        options.photoPath = files.at(0);
        options.outputPath = files.value(1);
    }
    const QByteArray photoPath = options.photoPath.isEmpty() ? QFile::encodeName(options.photo) : options.photoPath;

    struct stat photo {};
    if (::stat(photoPath.constData(), &photo) != 0 || !S_ISREG(photo.st_mode)
        || ::access(photoPath.constData(), R_OK) != 0)
        return usageError(QStringLiteral("“%1” is no photo that can be read").arg(positional.at(0)));
    const QString target = options.output.isEmpty() ? options.photo : options.output;
    if (options.output.isEmpty() ? !PhotoEditingViewController::isJPEGName(target)
                                 : !PhotoEditingViewController::isJPEGOutputName(target)) {
        return usageError(options.output.isEmpty()
                              ? QStringLiteral("the result is a JPEG, which can't go over “%1”: name an OUTPUT ending in .jpg")
                                    .arg(positional.at(0))
                              : QStringLiteral("the result is a JPEG, so OUTPUT “%1” must end in .jpg or .jpeg")
                                    .arg(positional.at(1)));
    }
    const QByteArray targetPath =
        options.output.isEmpty()
            ? photoPath
            : (options.outputPath.isEmpty() ? QFile::encodeName(options.output) : options.outputPath);
    const qsizetype slash = targetPath.lastIndexOf('/');
    if (isFolder(targetPath) || !isFolder(slash > 0 ? targetPath.left(slash) : QByteArray("/")))
        return usageError(QStringLiteral("“%1” can't be written: its folder is missing or it is a folder").arg(target));

    QApplication app(argc, argv);
    // Ended by a signal, it leaves no half-written result beside the photo.
    platform::TemporaryNames::removeHeldAtTermination();
    app.setApplicationName(QStringLiteral("retouchlet"));
    // Kantelo's icon, as the installed icon theme holds it.
    app.setWindowIcon(QIcon::fromTheme(QStringLiteral("com.velmoorsoft.Kantelo")));
    app.setQuitOnLastWindowClosed(false); // the answer, not the window, ends the program
    // Framed photos are large: Qt's default of 128 MB stops at about 33 MP.
    QImageReader::setAllocationLimit(2048);

    PhotoEditingViewController controller(options);
    platform::Error failure;
    if (!controller.startContentEditing(&failure)) {
        std::fputs(QStringLiteral("ERROR: %1\n").arg(failure.description).toLocal8Bit().constData(), stderr);
        if (!options.script)
            QMessageBox::critical(nullptr, QStringLiteral("Retouchlet"), failure.description);
        return PhotoEditingViewController::Failed;
    }
    controller.show();
    return app.exec();
}
