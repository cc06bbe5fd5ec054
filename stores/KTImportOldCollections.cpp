#include "stores/KTImportOldCollections.h"

#include "platform/Assert.h"
#include "platform/Error.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "stores/Frame.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameCollection.h"
#include "stores/FrameImage.h"
#include "stores/FrameSet.h"
#include "stores/FrameType.h"
#include "stores/LibraryDates.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QDateTime distantPast()
{
    return LibraryDates::distantPast();
}

// Lists a folder the way the importer needs it; an error ready to present
// when it can't be listed.
bool listFolder(const QString &path, QStringList *names, platform::Error *error)
{
    const QFileInfo info(path);
    if (!info.isDir() || !info.isReadable()) {
        error->domain = "NSCocoaErrorDomain";
        error->code = 256; // a file that couldn't be read
        error->description = QString("The folder \"%1\" couldn't be opened.").arg(info.fileName());
        return false;
    }
    *names = QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
    return true;
}

} // namespace

QString KTImportOldCollections::frameNameFromFilename(const QString &filename)
{
    const qsizetype underscore = filename.indexOf('_');
    if (underscore < 0)
        return QString();
    return filename.left(underscore);
}

QString KTImportOldCollections::suffixFromFilename(const QString &filename)
{
    QString base = filename;
    const qsizetype dot = base.lastIndexOf('.');
    if (dot > 0)
        base = base.left(dot);
    const qsizetype underscore = base.indexOf('_');
    if (underscore < 0)
        return QString();
    return base.mid(underscore + 1);
}

QString KTImportOldCollections::attributeNameForSuffix(const QString &suffix)
{
    static const QMap<QString, QString> table{
        {"h", "Landscape Image"},      {"v", "Portrait Image"},       {"t", "Top Image"},
        {"b", "Bottom Image"},         {"l", "Left Image"},           {"r", "Right Image"},
        {"tl", "Top-Left corner"},     {"tr", "Top-Right corner"},    {"bl", "Bottom-Left corner"},
        {"br", "Bottom-Right corner"},
    };
    return table.value(suffix);
}

QString KTImportOldCollections::typeOfFrame(const QMap<QString, QString> &suffixes)
{
    auto any = [&](std::initializer_list<const char *> keys) {
        for (const char *k : keys)
            if (suffixes.contains(QString::fromLatin1(k)))
                return true;
        return false;
    };
    if (any({"h", "v"}))
        return "Full frame";
    if (any({"tl", "tr", "bl", "br"}))
        return "Moulding with corners";
    if (any({"l", "b", "r", "t"}))
        return "Moulding";
    return "Unknown";
}

bool KTImportOldCollections::importCollectionFromPath(const QString &path)
{
    KT_ASSERT(m_moc, QStringLiteral("Invalid parameter not satisfying: moc"));
    m_copiedGraphics.clear();
    platform::ManagedObjectContext *target = m_moc;
    std::unique_ptr<platform::ManagedObjectContext> scratch = target->newChildContext();
    bool ok = false;
    scratch->performAndWait([&] {
        platform::ManagedObjectContext *moc = scratch.get();
        FrameCollection *collection = FrameCollection::insertInManagedObjectContext(moc);
        collection->setName(QFileInfo(QDir::cleanPath(path)).fileName());
        collection->setUrl(kCollectionURL);
        collection->setLastUpdated(distantPast());
        collection->setLastModified(QDateTime::currentDateTime());

        QStringList names;
        platform::Error error;
        if (!listFolder(path, &names, &error)) {
            platform::presentError(error);
            return;
        }
        for (const QString &name : names) {
            if (name.startsWith('.'))
                continue;
            FrameSet *set = FrameSet::insertInManagedObjectContext(moc);
            set->setName(name);
            set->setLastModified(QDateTime::currentDateTime());
            set->setLastUpdated(distantPast());
            set->setFramecollection(collection);
            if (!importSet(set, QDir(path).filePath(name)))
                return;
        }
        platform::Error saveError;
        ok = moc->save(&saveError);
        if (!ok)
            platform::presentError(saveError);
    });
    if (!ok) {
        // Nothing of a failed import stays: not the objects, not the copies.
        for (const QString &file : std::as_const(m_copiedGraphics))
            QFile::remove(file);
    }
    m_copiedGraphics.clear();
    return ok;
}

bool KTImportOldCollections::importSet(FrameSet *set, const QString &path)
{
    platform::ManagedObjectContext *moc = set->managedObjectContext();
    QStringList names;
    platform::Error error;
    if (!listFolder(path, &names, &error)) {
        platform::presentError(error);
        return false;
    }
    QMap<QString, QMap<QString, QString>> frames; // frame name -> suffix -> path
    for (const QString &name : names) {
        if (name.startsWith('.'))
            continue;
        const QString frameName = frameNameFromFilename(name);
        const QString suffix = suffixFromFilename(name);
        if (frameName.isNull() || suffix.isNull())
            continue;
        frames[frameName][suffix] = QDir(path).filePath(name);
    }

    for (auto it = frames.constBegin(); it != frames.constEnd(); ++it) {
        FrameType *type = FrameType::frameTypeWithName(typeOfFrame(it.value()), moc);
        if (!type)
            return false;
        Frame *frame = Frame::insertInManagedObjectContext(moc);
        frame->setName(it.key());
        frame->setFrameset(set);
        frame->setAuthor(m_author);
        if (!m_URL.isEmpty())
            frame->setUrl(m_URL);
        if (m_useFilenameAsCatalogRef)
            frame->setCatalogRef(it.key());
        frame->setFrametype(type);
        frame->setLastModified(QDateTime::currentDateTime());
        frame->setLastUpdated(distantPast());

        for (auto s = it.value().constBegin(); s != it.value().constEnd(); ++s) {
            const QString attributeName = attributeNameForSuffix(s.key());
            if (attributeName.isNull())
                continue;
            FrameAttribute *attribute = frame->frameAttributeWithName(attributeName);
            if (!attribute || attribute->kindValue() != 1)
                continue;
            FrameImage *image = FrameImage::frameImageFromImageAtPath(s.value(), moc);
            if (!image)
                return false;
            m_copiedGraphics << image->imagePath();
            attribute->setImageVal(image);
        }
        frame->buildIcon();
    }
    return true;
}
