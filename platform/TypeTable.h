#pragma once

#include <QString>
#include <QStringList>

namespace platform {

// Uniform type identifiers: identifier, extensions, MIME type, conformance.
namespace TypeTable {
inline constexpr const char *kJPEG = "public.jpeg";
inline constexpr const char *kPNG = "public.png";
inline constexpr const char *kTIFF = "public.tiff";
inline constexpr const char *kPSD = "com.adobe.photoshop-image";
inline constexpr const char *kPDF = "com.adobe.pdf";
inline constexpr const char *kHEIC = "public.heic";
inline constexpr const char *kImage = "public.image";
inline constexpr const char *kTemplate = "com.velmoorsoft.kantelo.template";
inline constexpr const char *kFrames = "com.velmoorsoft.kantelo.frames";
// A folder read as one document.
inline constexpr const char *kPackage = "com.apple.package";

QString typeForExtension(const QString &extension);    // empty when unknown
QString typeForFile(const QString &path);              // by extension, else by content
// The picture type a file's first bytes (at least 12) show; empty when they show none.
QString typeForContent(const QByteArray &head);
QString preferredExtension(const QString &identifier);
QStringList extensions(const QString &identifier);
// The extensions of the type and of every type that conforms to it.
QStringList conformingExtensions(const QString &identifier);
QString mimeType(const QString &identifier);
bool conformsTo(const QString &identifier, const QString &parent);
} // namespace TypeTable

// True when `name` is one safe path component: not empty, not "." or "..",
// no "/" and no NUL.
bool isSafeFileName(const QString &name);

// The account's full name (passwd GECOS), empty when unknown.
QString accountFullName();
// The person's name from the account: the full name, empty when unknown or
// when it only repeats the login name (as "root" does).
QString accountPersonName();

} // namespace platform
