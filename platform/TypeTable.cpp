#include "platform/TypeTable.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeDatabase>

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace platform {
namespace TypeTable {

namespace {

struct TypeEntry {
    const char *identifier;
    QStringList parents;    // direct conformance
    QStringList extensions; // first is preferred
    const char *mime;
};

const std::vector<TypeEntry> &table()
{
    static const std::vector<TypeEntry> entries = {
        {"public.item", {}, {}, ""},
        {"public.content", {}, {}, ""},
        {"public.data", {"public.item"}, {}, "application/octet-stream"},
        {"public.directory", {"public.item"}, {}, "inode/directory"},
        {"public.folder", {"public.directory"}, {}, "inode/directory"},
        {"com.apple.package", {"public.directory"}, {}, ""},
        {kImage, {"public.data", "public.content"}, {}, ""},
        {kJPEG, {kImage}, {"jpg", "jpeg", "jpe"}, "image/jpeg"},
        {kPNG, {kImage}, {"png"}, "image/png"},
        {kTIFF, {kImage}, {"tiff", "tif"}, "image/tiff"},
        {kPSD, {kImage}, {"psd"}, "image/vnd.adobe.photoshop"},
        {kHEIC, {"public.heif-standard"}, {"heic"}, "image/heic"},
        {"public.heif-standard", {kImage}, {"heif"}, "image/heif"},
        {"com.compuserve.gif", {kImage}, {"gif"}, "image/gif"},
        {"com.microsoft.bmp", {kImage}, {"bmp"}, "image/bmp"},
        {"org.webmproject.webp", {kImage}, {"webp"}, "image/webp"},
        {"public.composite-content", {"public.content"}, {}, ""},
        {kPDF, {"public.data", "public.composite-content"}, {"pdf"}, "application/pdf"},
        {"public.zip-archive", {"public.data"}, {"zip"}, "application/zip"},
        {"public.text", {"public.data", "public.content"}, {}, "text/plain"},
        {"public.plain-text", {"public.text"}, {"txt"}, "text/plain"},
        {"public.xml", {"public.text"}, {"xml"}, "application/xml"},
        {"com.apple.property-list", {"public.data"}, {"plist"}, "application/x-plist"},
        {kTemplate, {"com.apple.package", "public.composite-content"}, {"KTTemplate"}, ""},
        {kFrames, {"public.zip-archive"}, {"ktframes"}, "application/zip"},
    };
    return entries;
}

const TypeEntry *find(const QString &identifier)
{
    for (const TypeEntry &entry : table()) {
        if (identifier.compare(QLatin1String(entry.identifier), Qt::CaseInsensitive) == 0)
            return &entry;
    }
    return nullptr;
}

QString typeForMime(const QString &mime)
{
    if (mime.isEmpty())
        return {};
    for (const TypeEntry &entry : table()) {
        // Only concrete types answer for a MIME type (not the abstract folder kinds).
        if (!entry.extensions.isEmpty() && mime == QLatin1String(entry.mime))
            return QString::fromLatin1(entry.identifier);
    }
    return {};
}

} // namespace

QString typeForExtension(const QString &extension)
{
    if (extension.isEmpty())
        return {};
    for (const TypeEntry &entry : table()) {
        for (const QString &ext : entry.extensions) {
            if (ext.compare(extension, Qt::CaseInsensitive) == 0)
                return QString::fromLatin1(entry.identifier);
        }
    }
    return {};
}

QString typeForFile(const QString &path)
{
    const QFileInfo info(path);
    const QString byExtension = typeForExtension(info.suffix());
    if (!byExtension.isEmpty()) {
        // A template package is a folder; a plain file of that name is not one.
        if (byExtension == QLatin1String(kTemplate) && !info.isDir() && info.exists())
            return QStringLiteral("public.data");
        return byExtension;
    }
    if (info.isDir())
        return QStringLiteral("public.folder");
    if (!info.exists())
        return {};
    static const QMimeDatabase mimes;
    const QMimeType mime = mimes.mimeTypeForFile(info, QMimeDatabase::MatchContent);
    const QString byContent = typeForMime(mime.name());
    if (!byContent.isEmpty())
        return byContent;
    for (const QString &parent : mime.parentMimeTypes()) {
        const QString type = typeForMime(parent);
        if (!type.isEmpty())
            return type;
    }
    return QStringLiteral("public.data");
}

QString typeForContent(const QByteArray &head)
{
    if (head.startsWith("\xff\xd8\xff"))
        return QString::fromLatin1(kJPEG);
    if (head.startsWith("\x89PNG\r\n\x1a\n"))
        return QString::fromLatin1(kPNG);
    if (head.startsWith(QByteArray("II*\0", 4)) || head.startsWith(QByteArray("MM\0*", 4)))
        return QString::fromLatin1(kTIFF);
    if (head.startsWith("8BPS"))
        return QString::fromLatin1(kPSD);
    if (head.startsWith("%PDF-"))
        return QString::fromLatin1(kPDF);
    if (head.size() >= 12 && head.mid(4, 4) == "ftyp") {
        static const QByteArrayList brands{"heic", "heix", "hevc", "hevx", "heim", "heis", "mif1", "msf1"};
        if (brands.contains(head.mid(8, 4)))
            return QString::fromLatin1(kHEIC);
    }
    return {};
}

QString preferredExtension(const QString &identifier)
{
    const TypeEntry *entry = find(identifier);
    return entry && !entry->extensions.isEmpty() ? entry->extensions.first() : QString();
}

QStringList extensions(const QString &identifier)
{
    const TypeEntry *entry = find(identifier);
    return entry ? entry->extensions : QStringList();
}

QStringList conformingExtensions(const QString &identifier)
{
    QStringList out;
    for (const TypeEntry &entry : table()) {
        if (conformsTo(QString::fromLatin1(entry.identifier), identifier))
            out << entry.extensions;
    }
    out.removeDuplicates();
    return out;
}

QString mimeType(const QString &identifier)
{
    const TypeEntry *entry = find(identifier);
    return entry ? QString::fromLatin1(entry->mime) : QString();
}

bool conformsTo(const QString &identifier, const QString &parent)
{
    if (identifier.compare(parent, Qt::CaseInsensitive) == 0)
        return !identifier.isEmpty();
    const TypeEntry *entry = find(identifier);
    if (!entry)
        return false;
    // The table is a small acyclic graph.
    for (const QString &direct : entry->parents) {
        if (direct != identifier && conformsTo(direct, parent))
            return true;
    }
    return false;
}

} // namespace TypeTable

bool isSafeFileName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    return !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

QString accountFullName()
{
    const struct passwd *entry = ::getpwuid(::getuid());
    if (!entry || !entry->pw_gecos)
        return {};
    // GECOS is "Full Name,Room,Work phone,Home phone,Other".
    const QString gecos = QString::fromLocal8Bit(entry->pw_gecos);
    return gecos.section(QLatin1Char(','), 0, 0).trimmed();
}

QString accountPersonName()
{
    const QString name = accountFullName();
    const struct passwd *entry = ::getpwuid(::getuid());
    if (entry && entry->pw_name && name.compare(QString::fromLocal8Bit(entry->pw_name), Qt::CaseInsensitive) == 0)
        return {};
    return name;
}

} // namespace platform
