#include "platform/codec/ExportFormat.h"

#include "platform/TypeTable.h"
#include "platform/codec/JpegWriter.h"
#include "platform/codec/PngWriter.h"
#include "platform/codec/PsdWriter.h"
#include "platform/codec/TiffWriter.h"

namespace platform {

namespace {

// The lossless writers take no quality.
template <bool (*Writer)(QIODevice *, const QImage &, const ExportMetadata &, Error *, const RowReadHook &)>
bool lossless(QIODevice *device, const QImage &image, const ExportMetadata &metadata, double, Error *error,
              const RowReadHook &hook)
{
    return Writer(device, image, metadata, error, hook);
}

template <bool (*Writer)(QIODevice *, const PictureBands &, const ExportMetadata &, Error *, const RowReadHook &)>
bool losslessBands(QIODevice *device, const PictureBands &bands, const ExportMetadata &metadata, double, Error *error,
                   const RowReadHook &hook)
{
    return Writer(device, bands, metadata, error, hook);
}

} // namespace

const std::vector<ExportFormat> &ExportFormat::all()
{
    using Id = ExportFormat::Id;
    static const std::vector<ExportFormat> formats = {
        {Id::Jpeg, QStringLiteral("JPEG"), QString::fromLatin1(TypeTable::kJPEG),
         {QStringLiteral("jpg"), QStringLiteral("jpeg")}, QStringLiteral("image/jpeg"), 0, true, false,
         &JpegWriter::write, &JpegWriter::writeBands},
        {Id::Png, QStringLiteral("PNG"), QString::fromLatin1(TypeTable::kPNG), {QStringLiteral("png")},
         QStringLiteral("image/png"), 1, false, true, &lossless<&PngWriter::write>,
         &losslessBands<&PngWriter::writeBands>},
        {Id::Tiff, QStringLiteral("TIFF"), QString::fromLatin1(TypeTable::kTIFF),
         {QStringLiteral("tiff"), QStringLiteral("tif")}, QStringLiteral("image/tiff"), 2, false, true,
         &lossless<&TiffWriter::write>, &losslessBands<&TiffWriter::writeBands>},
        {Id::Psd, QStringLiteral("PSD"), QString::fromLatin1(TypeTable::kPSD), {QStringLiteral("psd")},
         QStringLiteral("image/vnd.adobe.photoshop"), 3, false, true, &lossless<&PsdWriter::write>,
         &losslessBands<&PsdWriter::writeBands>},
    };
    return formats;
}

const ExportFormat *ExportFormat::forType(const QString &type)
{
    for (const ExportFormat &format : all()) {
        if (format.type == type)
            return &format;
    }
    return nullptr;
}

const ExportFormat *ExportFormat::forFile(const QString &type, const QString &path)
{
    const ExportFormat *format = forType(type);
    if (!format || format->id != Id::Psd || !path.endsWith(QLatin1String(".psb"), Qt::CaseInsensitive))
        return format;
    static const ExportFormat large = [format] {
        ExportFormat variant = *format;
        variant.name = QStringLiteral("PSB");
        variant.extensions = {QStringLiteral("psb")};
        variant.write = &lossless<&PsdWriter::writeLarge>;
        variant.writeBands = &losslessBands<&PsdWriter::writeBandsLarge>;
        return variant;
    }();
    return &large;
}

const ExportFormat *ExportFormat::forExtension(const QString &extension)
{
    for (const ExportFormat &format : all()) {
        if (format.extensions.contains(extension, Qt::CaseInsensitive))
            return &format;
    }
    return nullptr;
}

bool ExportFormat::isSavedIndex(qint64 index)
{
    for (const ExportFormat &format : all()) {
        if (format.savedIndex == index)
            return true;
    }
    return false;
}

const ExportFormat &ExportFormat::forSavedIndex(qint64 index)
{
    for (const ExportFormat &format : all()) {
        if (format.savedIndex == index)
            return format;
    }
    return all().front();
}

QStringList ExportFormat::allExtensions()
{
    QStringList out;
    for (const ExportFormat &format : all())
        out << format.extensions;
    return out;
}

} // namespace platform
