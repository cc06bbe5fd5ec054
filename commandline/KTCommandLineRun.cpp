#include "commandline/KTCommandLineRun.h"

#include "batch/KTImageProcessor.h"
#include "design/KTExportQuality.h"
#include "design/KTFrameLayer.h"
#include "design/KTInitialContentImport.h"
#include "design/KTTemplate.h"
#include "design/TemplatesStore.h"
#include "design/Variation.h"
#include "kit/VLKitUtils.h"
#include "kit/VLProcessArguments.h"
#include "kit/VLWAnalytics.h"
#include "platform/Alert.h"
#include "platform/Bundle.h"
#include "platform/Dispatch.h"
#include "platform/Error.h"
#include "platform/Log.h"
#include "platform/FileLocation.h"
#include "platform/PhotoName.h"
#include "platform/ThreadPools.h"
#include "platform/TimingLog.h"
#include "platform/TypeTable.h"
#include "platform/UserDefaults.h"
#include "platform/codec/ImageEncoder.h"
#include "platform/imaging/ImageDecoder.h"
#include "platform/imaging/PsdReader.h"
#include "platform/objectstore/PersistentStore.h"
#include "stores/KTFrameLibraryImporter.h"
#include "stores/LibraryStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStorageInfo>
#include <QUrl>

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform;

namespace {

std::atomic<bool> g_failed{false};
std::atomic<bool> g_written{false};

void printLine(const char *tag, const QString &text)
{
    static std::mutex lock;
    const QByteArray line = (QString::fromLatin1(tag) + text.simplified() + QLatin1Char('\n')).toLocal8Bit();
    std::lock_guard<std::mutex> guard(lock);
    std::fputs(line.constData(), stderr);
    std::fflush(stderr);
}

// The run's one "ERROR:" line: the first reason only. Once the framed file
// is written, later trouble does not undo that.
void fail(const QString &reason)
{
    if (g_written) {
        printLine("Warning: ", reason);
        return;
    }
    if (!g_failed.exchange(true))
        printLine("ERROR: ", reason);
}

// The message names the file by its whole path, once: in place of its bare
// name where it gives it.
QString namingFile(QString text, const QString &path)
{
    if (path.isEmpty() || text.contains(path))
        return text;
    const QString named = QStringLiteral("“%1”").arg(QFileInfo(path).fileName());
    if (text.contains(named))
        return text.replace(named, QStringLiteral("“%1”").arg(path));
    while (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text + QStringLiteral(": “%1”").arg(path);
}

// What the user can do about a store file the run could not use.
QString storeAdvice(const Error &error)
{
    if (error.domain != QLatin1String(kObjectStoreErrorDomain))
        return {};
    if (error.code == StoreDamaged)
        return QString::fromLatin1(KTCommandLineRun::kDamagedStoreAdvice);
    if (error.code == StoreTooNew)
        return QString::fromLatin1(KTCommandLineRun::kNewerStoreAdvice);
    return {};
}

// Qt's warnings are of its own workings, said on the way (its picture
// readers', and the buffer they seek in, come before the one "ERROR:" line
// that gives the reader's reason): they stay out of the run's lines. What
// stops Qt is said.
void onQtMessage(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        printLine(type == QtFatalMsg ? "ERROR: " : "Warning: ", message);
}

// The frames' own warnings say what the run's failure says again; they are
// told only when the photo was framed all the same.
std::mutex g_heldLock;
QStringList g_heldWarnings;

// Errors fail the run, naming the file and why when they know; questions get
// their last button, the one that goes on without harm ("Continue Without
// Library"); diagnostics on the way are warnings.
void installPresenters()
{
    setErrorPresenter([](const Error &error) {
        QString text = error.description.isEmpty() ? QStringLiteral("%1 error %2").arg(error.domain).arg(error.code)
                                                   : error.description;
        QString path = error.userInfo.value(QStringLiteral("NSFilePath")).toString();
        if (path.isEmpty())
            path = error.userInfo.value(QStringLiteral("path")).toString();
        const QString advice = error.recoverySuggestion.isEmpty() ? storeAdvice(error) : error.recoverySuggestion;
        if (path.isEmpty() || !advice.contains(QDir::toNativeSeparators(path)))
            text = namingFile(text, QDir::toNativeSeparators(path));
        const QString reason = error.userInfo.value(QStringLiteral("NSLocalizedFailureReason")).toString();
        if (!reason.isEmpty() && !text.contains(reason))
            text += QStringLiteral(": ") + reason;
        if (!advice.isEmpty())
            text += QLatin1Char(' ') + advice;
        fail(text);
    });
    setLogSink([](const QString &line) {
        static const QString errorTag = QStringLiteral("ERROR: ");
        printLine("", diagnosticLine(line.startsWith(errorTag) ? line.mid(errorTag.size()) : line));
    });
    setAlertPresenter([](const AlertRequest &request) {
        QString text = request.messageText;
        if (!request.informativeText.isEmpty())
            text += QLatin1Char(' ') + request.informativeText;
        printLine("Warning: ", text);
        return int(request.buttons.isEmpty() ? 0 : request.buttons.size() - 1);
    });
    KTFrameLayer::setWarningPoster([](const QString &message) {
        std::lock_guard<std::mutex> guard(g_heldLock);
        g_heldWarnings.append(message);
    });
}

// A peek at the file's first bytes, which leaves its access time as it was
// where the system lets it: a photo refused for its type is not read.
QByteArray firstBytes(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    int fd = ::open(native.constData(), O_RDONLY | O_NOATIME | O_CLOEXEC);
    if (fd < 0 && errno == EPERM)
        fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray head(32, '\0');
    const ssize_t got = ::read(fd, head.data(), size_t(head.size()));
    ::close(fd);
    head.truncate(got > 0 ? qsizetype(got) : 0);
    return head;
}

// Pictures handed over by the share extension are copies that are never
// written over.
bool isSharedCopy(const QString &path)
{
    return path.contains(Bundle::identifier() + QStringLiteral(".Passlet"));
}

// The profile's stores, open; on a first start (or after an unfinished one)
// they get the built-in frames and designs before anything else happens.
class Profile
{
public:
    // Nothing is made shared: the run hands its stores to what reads them.
    Profile() : m_library(&m_initial)
    {
        m_initial.setLibraryStore(&m_library);
        m_initial.setTemplatesStore(&m_templates);
    }

    ManagedObjectContext *openDesigns()
    {
        bool ended = false;
        QObject::connect(&m_initial, &KTInitialContentImport::finished, [&ended] { ended = true; });
        m_library.managedObjectContext();
        ManagedObjectContext *designs = m_templates.templatesManagedObjectContext();
        if (m_library.isImportingInitialFrames())
            spinEventLoopUntil([&ended] { return ended; }, 20);
        else if (designs && m_initial.needsInitialTemplates())
            m_initial.importInitialTemplates();
        return designs;
    }
    ManagedObjectContext *library() { return m_library.managedObjectContext(); }

private:
    // Declared first: the library store calls it until it is gone.
    KTInitialContentImport m_initial;
    LibraryStore m_library;
    TemplatesStore m_templates;
};

int run(const QStringList &arguments, const QList<QByteArray> &words)
{
    const VLProcessArguments options(arguments);
    QStringList files;
    QByteArray named;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (!arguments.at(i).startsWith(QLatin1Char('-'))) {
            files.append(arguments.at(i));
            named = words.value(i, QFile::encodeName(arguments.at(i)));
        }
    }
    const QString name = options.value(QString::fromLatin1(VLProcessArguments::kTemplateKey));
    if (!options.contains(QString::fromLatin1(VLProcessArguments::kTemplateKey)) || files.size() != 1) {
        fail(QString::fromLatin1(KTCommandLineRun::kUsageError));
        return KTCommandLineRun::kUsageStatus;
    }
    PhotoName photo(named);
    const QString path = photo.path();
    const bool isFile = photo.kind() == PhotoName::Kind::File;
    QString type = TypeTable::typeForFile(path);
    // Its bytes say what the photo is where its name says otherwise: a JPEG
    // named .heic is framed, and written, as the JPEG it is.
    if (isFile) {
        if (const QString content = TypeTable::typeForContent(firstBytes(path)); !content.isEmpty())
            type = content;
    }
    // Packages and archives are no photo to write back.
    if (type == QLatin1String(TypeTable::kTemplate) || type == QLatin1String(TypeTable::kFrames)) {
        fail(QString::fromUtf8(KTCommandLineRun::kNoPhotoError).arg(files.first()));
        return KTCommandLineRun::kUsageStatus;
    }
    // Told after the stores open, but known now: a photo refused for its
    // type is not decoded first.
    const QString unwritable = isFile ? KTCommandLineRun::whyNotWritable(photo, type) : QString();

    ImageDecoder::raiseAllocationLimit();
    // The photo is decoded on other cores while the stores open and the
    // design is read.
    std::shared_ptr<KTImageProcessor::PhotoRead> read;
    if (isFile && photo.problem().isEmpty() && unwritable.isEmpty() && !isSharedCopy(path))
        read = KTImageProcessor::startReading(QUrl::fromLocalFile(path));
    // Counting this start waits for two lock files and a settings file to
    // reach the disk: beside the work, not before it. Nothing here listens
    // to the count. The settings are made here, on this thread.
    UserDefaults::standard();
    runInBackground([] { VLKitUtils::load(); });
    // A run killed while it imported the built-in frames left their unpacked
    // archive in the data folder; no window may ever start to remove it.
    runInBackground([] { KTFrameLibraryImporter::removeStaleImportFolders(applicationSupportFolder()); });
    // The stores come first, whatever follows: a first start imports the
    // built-in frames and designs even when this photo can't be framed.
    Profile profile;
    ManagedObjectContext *designs = profile.openDesigns();
    if (g_failed)
        return KTCommandLineRun::kFailureStatus;

    TimingLog::mark("open");
    if (!isFile) {
        // A pipe or device is there, but is no photo to write back.
        const QString shown = QFileInfo(QDir::cleanPath(photo.shown())).fileName();
        const QString blocked = QDir::toNativeSeparators(photo.blockedAt());
        if (photo.kind() == PhotoName::Kind::Unreachable)
            fail(QString::fromUtf8(KTCommandLineRun::kFolderNotSearchable).arg(shown, blocked));
        else if (photo.kind() == PhotoName::Kind::SharedLink)
            fail(QString::fromUtf8(KTCommandLineRun::kSharedLink).arg(QDir::cleanPath(photo.shown()), blocked));
        else
            fail(QString::fromUtf8(photo.kind() == PhotoName::Kind::Folder  ? KTCommandLineRun::kIsFolder
                                   : photo.kind() == PhotoName::Kind::Other ? KTCommandLineRun::kNotAFile
                                   : photo.kind() == PhotoName::Kind::Loop  ? KTCommandLineRun::kSymlinkLoop
                                                                            : KTCommandLineRun::kNoSuchFile)
                     .arg(shown));
        return KTCommandLineRun::kFailureStatus;
    }
    if (isSharedCopy(path)) {
        fail(QString::fromLatin1(KTCommandLineRun::kNoFileToProcess));
        return KTCommandLineRun::kFailureStatus;
    }
    if (!unwritable.isEmpty()) {
        fail(photo.named(unwritable));
        return KTCommandLineRun::kFailureStatus;
    }
    if (!photo.problem().isEmpty()) {
        fail(QString::fromUtf8(KTCommandLineRun::kNoSecondName).arg(photo.shown(), photo.problem()));
        return KTCommandLineRun::kFailureStatus;
    }

    const Variation *variation = designs ? Variation::variationWithName(name, designs) : nullptr;
    if (!variation) {
        fail(QString::fromLatin1(KTCommandLineRun::kTemplateNamedNotFound).arg(name));
        return KTCommandLineRun::kFailureStatus;
    }
    platform::Error unreadable;
    const std::shared_ptr<KTTemplate> design = KTTemplate::templateFromVariation(variation, profile.library(), &unreadable);
    if (!design) {
        // The archive's reason, when it has one: a design refused for its size says which part is too large.
        QString line = QString::fromLatin1(KTCommandLineRun::kTemplateNamedUnreadable).arg(name);
        if (!unreadable.description.isEmpty())
            line += QStringLiteral(": ") + unreadable.description;
        fail(line);
        return KTCommandLineRun::kFailureStatus;
    }
    // Told here, as the design's trouble: the photo is fine.
    if (const QStringList lacking = design->namesOfFramesLackingMemory(); !lacking.isEmpty()) {
        fail(QString::fromLatin1(KTTemplate::kFramesLackMemoryFormat).arg(name, lacking.join(QStringLiteral(", ")))
             + QStringLiteral(". ") + QString::fromLatin1(KTCommandLineRun::kFramesLackMemoryAdvice));
        return KTCommandLineRun::kFailureStatus;
    }
    if (const QStringList missing = design->namesOfLayersThatMissGraphics(true); !missing.isEmpty()) {
        fail(QString::fromLatin1(KTTemplate::kFramesMissingFormat).arg(name, missing.join(QStringLiteral(", ")))
             + QStringLiteral(". ") + QString::fromLatin1(KTCommandLineRun::kFramesMissingAdvice));
        return KTCommandLineRun::kFailureStatus;
    }
    if (const QStringList unread = design->namesOfUnreadOverlayPictures(); !unread.isEmpty()) {
        fail(QString::fromLatin1(KTTemplate::kPicturesUnreadFormat).arg(name, unread.join(QStringLiteral(", ")))
             + QStringLiteral(". ") + QString::fromLatin1(KTCommandLineRun::kPicturesMissingAdvice));
        return KTCommandLineRun::kFailureStatus;
    }
    if (const QStringList missing = design->namesOfMissingOverlayPictures(); !missing.isEmpty()) {
        fail(QString::fromLatin1(KTTemplate::kPicturesMissingFormat).arg(name, missing.join(QStringLiteral(", ")))
             + QStringLiteral(". ") + QString::fromLatin1(KTCommandLineRun::kPicturesMissingAdvice));
        return KTCommandLineRun::kFailureStatus;
    }
    VLWAnalytics::trackEventProperties(QStringLiteral("Extensions"),
                                       QVariantMap{{QStringLiteral("Type"), QStringLiteral("CLI")}});

    KTImageProcessor::Output output;
    output.read = read;
    output.path = path;
    output.uti = type;
    output.quality = design->exportQuality().value_or(KTExportQuality::fromDefaults(UserDefaults::standard()));
    Error error;
    if (!KTImageProcessor::processImage(QUrl::fromLocalFile(path), design, output, &error)) {
        QString text = error.description.isEmpty() ? QString::fromLatin1(KTCommandLineRun::kNotWritten) : error.description;
        text = namingFile(photo.named(text), QDir::toNativeSeparators(photo.shown()));
        if (!error.recoverySuggestion.isEmpty())
            text += QLatin1Char(' ') + error.recoverySuggestion;
        fail(text);
        return KTCommandLineRun::kFailureStatus;
    }
    g_written = true;
    return g_failed ? KTCommandLineRun::kFailureStatus : 0;
}

} // namespace

bool KTCommandLineRun::isProcessRun(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-process") == 0 || std::strncmp(argv[i], "-process=", 9) == 0)
            return true;
    }
    return false;
}

int KTCommandLineRun::exec(int argc, char *argv[])
{
    // Fonts and drawing without a display; an explicit choice is kept.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(onQtMessage);
    QGuiApplication app(argc, argv);
    // Qt's font database loads fontconfig's configuration as it is torn
    // down at quit, even when no text was drawn: loaded here beside the
    // work, it is only freed then.
    runInBackground([] { FcInit(); });
    QGuiApplication::setOrganizationName(QStringLiteral("Kantelo"));
    QGuiApplication::setApplicationName(QStringLiteral("Kantelo"));
    QGuiApplication::setApplicationVersion(VLKitUtils::shortVersionString());
    installPresenters();
    // Qt has taken its own options out of argv by now, as out of arguments().
    QList<QByteArray> words;
    for (int i = 0; i < argc; ++i)
        words.append(QByteArray(argv[i]));
    const int status = run(QGuiApplication::arguments(), words);
    waitForBackgroundThreads();
    KTFrameLayer::setWarningPoster(nullptr);
    if (!g_failed) {
        for (const QString &warning : std::as_const(g_heldWarnings))
            printLine("Warning: ", warning);
    }
    TimingLog::mark("exit");
    if (status == 0 && !g_written && !g_failed.exchange(true))
        printLine("ERROR: ", QString::fromLatin1(kNotWritten));
    return status;
}

QString KTCommandLineRun::whyNotWritable(const platform::PhotoName &photo, const QString &uti)
{
    const QString fileName = QFileInfo(QDir::cleanPath(photo.shown())).fileName();
    if (!ImageEncoder::canEncode(uti))
        return QString::fromUtf8(kTypeNotWritable).arg(fileName);
    if (uti == QLatin1String(TypeTable::kPSD) || uti == QLatin1String(TypeTable::kPNG)
        || uti == QLatin1String(TypeTable::kTIFF)) {
        const int depth = ImageDecoder::readHeader(photo.path()).bitsPerChannel;
        // Photoshop documents deeper than 16 bits, or in Lab colour at any
        // depth, are not read at all, which the decoding says: a copy of 8
        // bits in Lab would be refused too.
        const bool psd = uti == QLatin1String(TypeTable::kPSD);
        QFile header(photo.path());
        const bool lab = psd && header.open(QIODevice::ReadOnly) && PsdReader::isLab(header.read(26));
        if (depth > 8 && ((depth <= 16 && !lab) || !psd))
            return QString::fromUtf8(kDeeperThanWritten).arg(fileName).arg(depth);
    }
    // The file a link leads to, in its own folder, is what is replaced.
    const FileLocation &location = photo.location();
    const QString shown = QDir::toNativeSeparators(QDir::cleanPath(photo.shown()));
    // A read-only disk, a file or folder of the user's own that is
    // read-only, and one of someone else's each want another remedy.
    const auto refused = [&](const char *name, const QByteArray &path, const char *readOnly,
                             const char *notYours) -> QString {
        if (::faccessat(location.folder(), name, W_OK, AT_EACCESS) == 0)
            return QString();
        const int error = errno;
        const QString at = QDir::toNativeSeparators(QFile::decodeName(path));
        if (error == EROFS) {
            const QStorageInfo disk(QFile::decodeName(location.folderPath()));
            return QString::fromUtf8(kReadOnlyDisk)
                .arg(shown, disk.isValid() ? QDir::toNativeSeparators(disk.rootPath()) : at);
        }
        // Not even root may change it.
        if (error == EPERM)
            return QString::fromUtf8(kMarkedImmutable).arg(at);
        struct stat st {};
        const bool mine = ::fstatat(location.folder(), name, &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_uid == ::geteuid();
        if (mine && S_ISREG(st.st_mode) && (st.st_mode & 0777) == 0)
            return QString::fromUtf8(kNoPermissionsAtAll).arg(at);
        return QString::fromUtf8(mine ? readOnly : notYours).arg(at);
    };
    if (QString why = refused(location.name().constData(), location.path(), kFileReadOnly, kFileNotYours);
        !why.isEmpty())
        return why;
    // The new file is written beside the old one and then takes its place.
    return refused(".", location.folderPath(), kFolderReadOnly, kFolderNotYours);
}
