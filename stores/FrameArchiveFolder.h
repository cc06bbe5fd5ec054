#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

// The layout of a frame archive, unpacked or being written: one folder per
// kind of item, one file per item named by its GUID.
namespace FrameArchiveFolder {

inline constexpr const char *kCollections = "Collections";
inline constexpr const char *kSets = "Sets";
inline constexpr const char *kFrames = "Frames";
inline constexpr const char *kImages = "Images";
inline constexpr const char *kGraphics = "Graphics";

inline constexpr const char *kExtension = "ktframes";
inline constexpr const char *kTypeIdentifier = "com.velmoorsoft.kantelo.frames";

// Item files bigger than this are damage, not dictionaries.
inline constexpr qint64 kMaxItemFileSize = 16 * 1024 * 1024;

// The item files of one folder of an unpacked archive, in listing order:
// plain files only (no links, no folders), hidden names skipped. Empty when
// the folder is missing.
QStringList itemFiles(const QString &unpackedFolder, const char *folder);

// The dictionary in an item file (XML or binary property list); none when the
// file is unreadable, too big, or holds something else (logged).
std::optional<QVariantMap> readItem(const QString &path);

// The graphics files of an unpacked archive that its items refer to (an icon
// of a collection or set, an attribute of a frame) and that have an item in
// "Images", by name.
QSet<QString> referencedGraphics(const QString &unpackedFolder);

// Moves the referenced graphics files of an unpacked archive into
// `framesFolder`, with the permissions the library gives its own files.
// A file already there stays; names that could not be GUIDs are skipped.
// Answers how many files were moved.
int moveGraphics(const QString &unpackedFolder, const QString &framesFolder);

// The archive entry name of an item.
QString entryName(const char *folder, const QString &guid);

} // namespace FrameArchiveFolder
