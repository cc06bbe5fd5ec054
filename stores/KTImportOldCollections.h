#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

namespace platform {
class ManagedObjectContext;
}
class FrameSet;

// Turns a folder in the older collection layout into one collection, one set
// per subfolder and one frame per group of graphics files sharing a frame
// name ("Oak_tl.png", "Oak_t.png", ...). The work happens in a scratch child
// of `moc`: it reaches `moc` only when the whole folder imported, and a
// failed import leaves `moc` as it was. The importer does not save `moc`.
class KTImportOldCollections
{
public:
    // Given to every imported collection.
    static constexpr const char *kCollectionURL = "https://www.velmoorsoft.com/kantelo/";

    const QString &author() const { return m_author; }
    void setAuthor(const QString &author) { m_author = author; }
    const QString &URL() const { return m_URL; }
    void setURL(const QString &url) { m_URL = url; }
    bool useFilenameAsCatalogRef() const { return m_useFilenameAsCatalogRef; }
    void setUseFilenameAsCatalogRef(bool use) { m_useFilenameAsCatalogRef = use; }
    platform::ManagedObjectContext *moc() const { return m_moc; }
    void setMoc(platform::ManagedObjectContext *moc) { m_moc = moc; }

    // Call on the thread of `moc`. True when every set was imported.
    bool importCollectionFromPath(const QString &path);
    // Imports the frames of one set folder into `set` (an object of the
    // context the import works in).
    bool importSet(FrameSet *set, const QString &path);

    // The frame type named by a frame's suffixes (suffix -> file path).
    static QString typeOfFrame(const QMap<QString, QString> &suffixes);
    // Text before the first "_", or a null string without one.
    static QString frameNameFromFilename(const QString &filename);
    // Text after the first "_" of the name less its extension, or null.
    static QString suffixFromFilename(const QString &filename);
    // The image attribute a suffix fills ("tl" -> "Top-Left corner"), or null.
    static QString attributeNameForSuffix(const QString &suffix);

private:
    QString m_author;
    QString m_URL;
    bool m_useFilenameAsCatalogRef = false;
    platform::ManagedObjectContext *m_moc = nullptr;
    // Graphics copied during the current import, removed again if it fails.
    QStringList m_copiedGraphics;
};
