#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

class Frame;
class FrameCollection;
class FrameSet;
class LibraryStore;

// Writes the icons of the whole frame library into a dated folder tree, one
// folder per collection and per set, for the catalogue on the web. The
// library is read through a child context on its own thread; what went
// wrong is presented once the tree is written.
class KTLibraryExporterForWeb : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *kRootFormat = "Kantelo Library %1-%2-%3";
    static constexpr const char *kCollectionIconName = "CollectionIcon.png";
    static constexpr const char *kSetIconName = "SetIcon.png";
    static constexpr const char *kFrameIconFormat = "%1-icon.png";
    // The default that remembers the folder chosen last.
    static constexpr const char *kExportPathKey = "AdminExportPath";

    explicit KTLibraryExporterForWeb(LibraryStore *library, QObject *parent = nullptr);
    ~KTLibraryExporterForWeb() override;

    // Asks for the folder, starting in "AdminExportPath", stores the choice
    // there and starts the export; cancelling ends at once.
    void exportLibrary();
    // Writes the tree under `folder` in the background; exportEnded follows.
    void startExportAtURL(const QUrl &folder);

    // A library item's name as one file or folder name: separators and
    // control characters replaced, never empty, hidden, "." or "..", never
    // too long.
    static QString safePathComponent(const QString &name);
    // The root folder's name for today.
    static QString rootFolderName();

    // One level each, on the thread of the item's context; a failed write
    // is added to `errors`.
    static void exportCollectionToFolder(FrameCollection *collection, const QString &folder, QStringList *errors);
    static void exportFrameSetToFolder(FrameSet *set, const QString &folder, QStringList *errors);
    static void exportFrameToFolder(Frame *frame, const QString &folder, QStringList *errors);

    void setOpenFolder(std::function<void(const QString &)> open) { m_openFolder = std::move(open); }

signals:
    // On the main thread once the export was written and its errors shown
    // (or the panel was cancelled: then `root` is empty).
    void exportEnded(const QString &root, const QStringList &errors);

private:
    LibraryStore *m_library;
    std::function<void(const QString &)> m_openFolder;
};
