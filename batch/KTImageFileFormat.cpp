#include "batch/KTImageFileFormat.h"

#include <QHash>

#include <algorithm>

KTImageFileFormat::KTImageFileFormat(QString name, QString uti, QStringList fileExtensions)
    : m_name(std::move(name))
    , m_uti(std::move(uti))
    , m_fileExtensions(std::move(fileExtensions))
{
}

KTImageFileFormat KTImageFileFormat::fromExportFormat(platform::ExportFormat::Id id)
{
    const auto &all = platform::ExportFormat::all();
    const auto found = std::find_if(all.begin(), all.end(), [id](const auto &format) { return format.id == id; });
    const platform::ExportFormat &format = found != all.end() ? *found : all.front();
    return {format.name, format.type, format.extensions};
}

KTImageFileFormat KTImageFileFormat::JPGFileFormat()
{
    return fromExportFormat(platform::ExportFormat::Id::Jpeg);
}

KTImageFileFormat KTImageFileFormat::PNGFileFormat()
{
    return fromExportFormat(platform::ExportFormat::Id::Png);
}

KTImageFileFormat KTImageFileFormat::TIFFFileFormat()
{
    return fromExportFormat(platform::ExportFormat::Id::Tiff);
}

KTImageFileFormat KTImageFileFormat::PSDFileFormat()
{
    return fromExportFormat(platform::ExportFormat::Id::Psd);
}

QList<KTImageFileFormat> KTImageFileFormat::allFormats()
{
    QList<KTImageFileFormat> out;
    for (const platform::ExportFormat &format : platform::ExportFormat::all())
        out.append({format.name, format.type, format.extensions});
    return out;
}

bool KTImageFileFormat::hasQuality() const
{
    const platform::ExportFormat *format = platform::ExportFormat::forType(m_uti);
    return format && format->hasQuality;
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
