#include "batch/KTImageFileFormat.h"

#include "platform/TypeTable.h"

#include <QHash>

KTImageFileFormat::KTImageFileFormat(QString name, QString uti, QStringList fileExtensions)
    : m_name(std::move(name))
    , m_uti(std::move(uti))
    , m_fileExtensions(std::move(fileExtensions))
{
}

KTImageFileFormat KTImageFileFormat::JPGFileFormat()
{
    return {QStringLiteral("JPEG"), QString::fromLatin1(platform::TypeTable::kJPEG),
            {QStringLiteral("jpg"), QStringLiteral("jpeg")}};
}

KTImageFileFormat KTImageFileFormat::PNGFileFormat()
{
    return {QStringLiteral("PNG"), QString::fromLatin1(platform::TypeTable::kPNG), {QStringLiteral("png")}};
}

KTImageFileFormat KTImageFileFormat::TIFFFileFormat()
{
    return {QStringLiteral("TIFF"), QString::fromLatin1(platform::TypeTable::kTIFF),
            {QStringLiteral("tiff"), QStringLiteral("tif")}};
}

KTImageFileFormat KTImageFileFormat::PSDFileFormat()
{
    return {QStringLiteral("PSD"), QString::fromLatin1(platform::TypeTable::kPSD), {QStringLiteral("psd")}};
}

QList<KTImageFileFormat> KTImageFileFormat::allFormats()
{
    return {JPGFileFormat(), PNGFileFormat(), TIFFFileFormat(), PSDFileFormat()};
}

bool KTImageFileFormat::isImageUTI(const QString &uti)
{
    return initWithImageUTI(uti).has_value();
}

std::optional<KTImageFileFormat> KTImageFileFormat::initWithImageUTI(const QString &uti)
{
    for (const KTImageFileFormat &format : allFormats()) {
        if (format.UTI() == uti)
            return format;
    }
    return std::nullopt;
}

size_t qHash(const KTImageFileFormat &format, size_t seed)
{
    return qHash(format.UTI(), seed);
}
