#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <optional>

namespace platform {
class ManagedObjectContext;
}
class Frame;
class FrameCollection;
class FrameImage;
class FrameSet;

// The dictionary form of library items as it travels in frame archives and
// update files, and the checks applied to it on the way in. Archives and
// server answers are untrusted: every value is checked against the type its
// key or attribute kind wants, coerced where that is unambiguous, and
// otherwise dropped with a log line, so nothing unchecked reaches the store.
namespace LibraryItemDictionary {

inline constexpr const char *kName = "name";
inline constexpr const char *kGUID = "guid";
inline constexpr const char *kDescription = "adescription";
inline constexpr const char *kURL = "url";
inline constexpr const char *kIconGUID = "iconGUID";
inline constexpr const char *kFrameCollectionGUID = "framecollectionGUID";
inline constexpr const char *kAuthor = "author";
inline constexpr const char *kCatalogRef = "catalogRef";
inline constexpr const char *kAttributes = "attributes";
inline constexpr const char *kAttributeKinds = "attributeKinds";
inline constexpr const char *kFramesetGUID = "framesetGUID";
inline constexpr const char *kFrametype = "frametype";
inline constexpr const char *kFilename = "filename";

// Attribute kinds as stored.
enum Kind { KindString = 0, KindImage = 1, KindInteger = 2, KindFloat = 3, KindBoolean = 4, KindColor = 5 };

// A text property: strings as they are, numbers and booleans as their text;
// anything else is dropped (logged). Empty optional when absent or dropped.
std::optional<QString> stringForKey(const QVariantMap &dictionary, const char *key);

// A GUID: a non-empty string without path separators or NULs, so it can
// name a file. Anything else is dropped (logged unless absent).
std::optional<QString> guidForKey(const QVariantMap &dictionary, const char *key);
bool isUsableGUID(const QString &guid);

// A nested dictionary ("attributes"); anything else reads as empty (logged).
QVariantMap dictionaryForKey(const QVariantMap &dictionary, const char *key);

// The value of attribute `name` coerced to what its kind stores:
// string (QString), image (GUID QString), integer (qint64), float (double),
// boolean (bool), colour (QByteArray that unarchives as a colour). An
// invalid QVariant means "no value": absent, or of a type that doesn't fit
// (logged).
QVariant attributeValueForKind(const QString &name, const QVariant &value, int kind);

// Short text naming the item for log lines.
QString describe(const QVariantMap &dictionary);

// --- The dictionary form of library objects --------------------------------

// Dictionaries of library objects; keys whose value is nil are left out.
QVariantMap asDictionary(const FrameCollection &collection);
QVariantMap asDictionary(const FrameSet &set);
QVariantMap asDictionary(const Frame &frame);
QVariantMap asDictionary(const FrameImage &image);

// Applying a dictionary is an upsert by GUID in `moc`. Parents and images
// must be applied first: images, collections, sets, frames. A rejected
// dictionary changes nothing and answers null; its reason is logged.
FrameCollection *collectionFromDictionary(const QVariantMap &dictionary, platform::ManagedObjectContext *moc);
FrameSet *setFromDictionary(const QVariantMap &dictionary, platform::ManagedObjectContext *moc);
Frame *frameFromDictionary(const QVariantMap &dictionary, platform::ManagedObjectContext *moc);
// A frame image's GUID is the name its dictionary came under.
FrameImage *frameImageFromDictionary(const QString &guid, const QVariantMap &dictionary,
                                     platform::ManagedObjectContext *moc);

} // namespace LibraryItemDictionary
