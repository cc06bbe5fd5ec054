#pragma once

#include "platform/Error.h"
#include "platform/codec/PictureBands.h"
#include "platform/codec/RowReadHook.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QIODevice;

namespace platform {

class ExportMetadata;
struct ExportFormat;
class ReplacingFile;

// Encodes a rendered picture in one of the export formats (ExportFormat, by
// type identifier) with the prepared export metadata, into memory, onto a
// device or into a file. Rows go straight from the picture into the encoder.
class ImageEncoder
{
public:
    static bool canEncode(const QString &type);

    // `quality` 0..1 for lossy formats; missing means 0.75. `hook` hears
    // every read of the picture's rows and may stop the encoding.
    static bool encode(QIODevice *device, const QImage &image, const QString &type,
                       const ExportMetadata &metadata, std::optional<double> quality, Error *error,
                       const RowReadHook &hook = {});

    // The encoded bytes; nothing (and the error) on failure.
    static std::optional<QByteArray> encodeToData(const QImage &image, const QString &type,
                                                  const ExportMetadata &metadata,
                                                  std::optional<double> quality, Error *error,
                                                  const RowReadHook &hook = {});

    // Replaces the file at `path` atomically: on any failure the old file is
    // left as it was, nothing new is left behind, and the answer is false.
    // A Photoshop file named .psb is written as the large document.
    static bool writeToFile(const QString &path, const QImage &image, const QString &type,
                            const ExportMetadata &metadata, std::optional<double> quality, Error *error,
                            const RowReadHook &hook = {});

    // Whether pictures of the type can be written a band at a time.
    static bool canWriteBands(const QString &type);
    // The same, for a picture made a band of rows at a time and never held
    // whole. A format that says in its header whether there is alpha may
    // draw the bands twice, when they prove `bands.transparent` wrong.
    static bool writeBandsToFile(const QString &path, const PictureBands &bands, const QString &type,
                                 const ExportMetadata &metadata, std::optional<double> quality, Error *error,
                                 const RowReadHook &hook = {});

    // While one is current on a thread (its Scope), the first file written
    // there whole is held back before it is made durable and put in place:
    // `commit`, on any thread, does that later, so the writer goes on at
    // once. A file dropped uncommitted goes, the old one left as it was.
    class HeldFile
    {
    public:
        HeldFile();
        ~HeldFile();
        HeldFile(const HeldFile &) = delete;
        HeldFile &operator=(const HeldFile &) = delete;

        bool holds() const { return bool(m_file); }
        // True when the file is in place, or none was held.
        bool commit(Error *error);

        class Scope
        {
        public:
            explicit Scope(HeldFile *held);
            ~Scope();
            Scope(const Scope &) = delete;
            Scope &operator=(const Scope &) = delete;

        private:
            HeldFile *m_previous;
        };

    private:
        friend class ImageEncoder;
        std::unique_ptr<ReplacingFile> m_file;
        QString m_path;
    };

private:
    static bool encodeAs(const ExportFormat *format, QIODevice *device, const QImage &image, const QString &type,
                         const ExportMetadata &metadata, std::optional<double> quality, Error *error,
                         const RowReadHook &hook);
    static bool writeAtomically(const QString &path, Error *error,
                                const std::function<bool(QIODevice *, Error *)> &encode);
};

} // namespace platform
