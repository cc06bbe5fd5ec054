#include "platform/codec/ImageEncoder.h"

#include "platform/codec/CodecErrors.h"
#include "platform/codec/ExportFormat.h"
#include "platform/codec/ExportMetadata.h"
#include "platform/codec/PixelRows.h"
#include "platform/ReplacingFile.h"

#include <QBuffer>
#include <QDir>

#include <algorithm>
#include <new>

namespace platform {

bool ImageEncoder::canEncode(const QString &type)
{
    return ExportFormat::forType(type) != nullptr;
}

bool ImageEncoder::encode(QIODevice *device, const QImage &image, const QString &type,
                          const ExportMetadata &metadata, std::optional<double> quality, Error *error,
                          const RowReadHook &hook)
{
    return encodeAs(ExportFormat::forType(type), device, image, type, metadata, quality, error, hook);
}

bool ImageEncoder::encodeAs(const ExportFormat *format, QIODevice *device, const QImage &image, const QString &type,
                            const ExportMetadata &metadata, std::optional<double> quality, Error *error,
                            const RowReadHook &hook)
{
    if (!format) {
        codecError(error, CodecError::UnsupportedType,
                   QStringLiteral("Pictures of the type “%1” can't be written.").arg(type));
        return false;
    }
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
        codecError(error, CodecError::EmptyImage, QStringLiteral("There is no picture to write."));
        return false;
    }
    // The renderer hands over one of the readable layouts; anything else is
    // converted once.
    QImage converted;
    const QImage *source = &image;
    if (!PixelRows::isSupported(image.format())) {
        try {
            converted = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        } catch (const std::bad_alloc &) {
            converted = QImage();
        }
        if (converted.isNull()) {
            codecError(error, CodecError::OutOfMemory, QStringLiteral("Not enough memory to convert the picture."));
            return false;
        }
        source = &converted;
    }
    try {
        return format->write(device, *source, metadata, quality.value_or(0.75), error, hook);
    } catch (const std::bad_alloc &) {
        codecError(error, CodecError::OutOfMemory, QStringLiteral("Not enough memory to encode the picture."));
        return false;
    }
}

std::optional<QByteArray> ImageEncoder::encodeToData(const QImage &image, const QString &type,
                                                     const ExportMetadata &metadata, std::optional<double> quality,
                                                     Error *error, const RowReadHook &hook)
{
    QByteArray data;
    // Room for the whole file up front: growing a large buffer step by step
    // copies it again and again. Untouched pages of the reservation cost
    // nothing, and squeezing a small result afterwards is cheap.
    const qint64 bound = qint64(image.width()) * image.height() * 4 + (1 << 20);
    try {
        data.reserve(qsizetype(std::min<qint64>(bound, qint64(1) << 30)));
    } catch (const std::bad_alloc &) {
        data = QByteArray();
    }
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadWrite);
    if (!encode(&buffer, image, type, metadata, quality, error, hook))
        return std::nullopt;
    buffer.close();
    if (data.capacity() > 2 * data.size())
        data.squeeze();
    return data;
}

namespace {

// Why a write to `file` stopped, in words a user can act on: the writers
// report the device's text, or their own when the device saw no failure.
QString writeFailure(const ReplacingFile &file, const QString &reported)
{
    if (file.errorNumber() != 0)
        return file.failure();
    if (reported.isEmpty() || reported == QLatin1String("Unknown error"))
        return QStringLiteral("the file could not be written in full");
    return reported;
}

QString couldNotWrite(const QString &path, const QString &why)
{
    return QStringLiteral("Couldn't write “%1”: %2").arg(QDir::toNativeSeparators(path), why);
}

} // namespace

bool ImageEncoder::writeToFile(const QString &path, const QImage &image, const QString &type,
                               const ExportMetadata &metadata, std::optional<double> quality, Error *error,
                               const RowReadHook &hook)
{
    const ExportFormat *format = ExportFormat::forFile(type, path);
    return writeAtomically(path, error, [&](QIODevice *file, Error *encodeError) {
        return encodeAs(format, file, image, type, metadata, quality, encodeError, hook);
    });
}

bool ImageEncoder::canWriteBands(const QString &type)
{
    const ExportFormat *format = ExportFormat::forType(type);
    return format && format->writeBands;
}

bool ImageEncoder::writeBandsToFile(const QString &path, const PictureBands &bands, const QString &type,
                                    const ExportMetadata &metadata, std::optional<double> quality, Error *error,
                                    const RowReadHook &hook)
{
    const ExportFormat *format = ExportFormat::forFile(type, path);
    if (!format || !format->writeBands) {
        codecError(error, CodecError::UnsupportedType,
                   QStringLiteral("Pictures of the type “%1” can't be written a band at a time.").arg(type));
        return false;
    }
    const auto attempt = [&](const PictureBands &these, Error *failure) {
        return writeAtomically(path, failure, [&](QIODevice *file, Error *encodeError) {
            return format->writeBands(file, these, metadata, quality.value_or(0.75), encodeError, hook);
        });
    };
    Error failure;
    if (attempt(bands, &failure))
        return true;
    if (failure.code == int(CodecError::StartOver) && bands.mayStartOver) {
        PictureBands other = bands;
        other.transparent = !bands.transparent;
        other.mayStartOver = false;
        failure = Error();
        if (attempt(other, &failure))
            return true;
    }
    if (error)
        *error = failure;
    return false;
}

namespace {

thread_local ImageEncoder::HeldFile *currentHeld = nullptr;

// Syncs the file to the disk and renames it over `path`.
bool commitFile(ReplacingFile &file, const QString &path, Error *error)
{
    if (file.commit())
        return true;
    codecError(error, CodecError::WriteFailed, couldNotWrite(path, writeFailure(file, file.errorString())));
    return false;
}

} // namespace

ImageEncoder::HeldFile::HeldFile() = default;

ImageEncoder::HeldFile::~HeldFile() = default;

bool ImageEncoder::HeldFile::commit(Error *error)
{
    if (!m_file)
        return true;
    const bool ok = commitFile(*m_file, m_path, error);
    m_file.reset();
    return ok;
}

ImageEncoder::HeldFile::Scope::Scope(HeldFile *held)
    : m_previous(currentHeld)
{
    currentHeld = held;
}

ImageEncoder::HeldFile::Scope::~Scope()
{
    currentHeld = m_previous;
}

bool ImageEncoder::writeAtomically(const QString &path, Error *error,
                                   const std::function<bool(QIODevice *, Error *)> &encode)
{
    auto owned = std::make_unique<ReplacingFile>(path);
    ReplacingFile &file = *owned;
    if (!file.open(QIODevice::WriteOnly)) {
        codecError(error, CodecError::WriteFailed, couldNotWrite(path, file.failure()));
        return false;
    }
    Error encodeError;
    if (!encode(&file, &encodeError)) {
        if (encodeError.code == int(CodecError::WriteFailed))
            encodeError.description = couldNotWrite(path, writeFailure(file, encodeError.description));
        file.cancelWriting();
        if (error)
            *error = encodeError;
        return false;
    }
    // A failed buffered write shows at the flush, before the file is held.
    if (!file.flush()) {
        codecError(error, CodecError::WriteFailed, couldNotWrite(path, writeFailure(file, file.errorString())));
        file.cancelWriting();
        return false;
    }
    if (currentHeld && !currentHeld->m_file) {
        // Handed on to whichever thread commits it: it belongs to none.
        file.moveToThread(nullptr);
        currentHeld->m_file = std::move(owned);
        currentHeld->m_path = path;
        return true;
    }
    return commitFile(file, path, error);
}

} // namespace platform
