#pragma once

#include "platform/Error.h"
#include "platform/codec/PictureBands.h"
#include "platform/codec/RowReadHook.h"

#include <QString>
#include <QStringList>

#include <vector>

class QIODevice;
class QImage;

namespace platform {

class ExportMetadata;

// One format a framed picture can be exported as. The list of them is the
// one place that knows the export formats: menus, save panels, preferences,
// batch runs and the encoder all read it. A new format is one more entry
// (and, when its type is new, one more line in the type table).
struct ExportFormat {
    enum class Id { Jpeg, Png, Tiff, Psd };

    using Write = bool (*)(QIODevice *device, const QImage &image, const ExportMetadata &metadata, double quality,
                           Error *error, const RowReadHook &hook);
    using WriteBands = bool (*)(QIODevice *device, const PictureBands &bands, const ExportMetadata &metadata,
                                double quality, Error *error, const RowReadHook &hook);

    Id id;
    QString name;           // what menus show: "JPEG"
    QString type;           // the type table's identifier
    QStringList extensions; // offered when saving; the first names new files
    QString mimeType;
    // The number preferences and saved settings keep for the format; also
    // its place in every format menu.
    int savedIndex;
    bool hasQuality;       // lossy: the quality setting applies
    bool keepsAlpha;       // transparent parts stay transparent
    Write write;           // `quality` 0..1, ignored where it does not apply
    WriteBands writeBands; // null when the format needs the whole picture

    // In saved-index order.
    static const std::vector<ExportFormat> &all();
    static const ExportFormat *forType(const QString &type);
    // The format a file of `type` at `path` is written in: a Photoshop file
    // named .psb is the large document (PSB), which no menu offers.
    static const ExportFormat *forFile(const QString &type, const QString &path);
    // The format one of whose extensions this is, in any case; null for none.
    static const ExportFormat *forExtension(const QString &extension);
    // The format kept under `index`; JPEG for a number no format has.
    static const ExportFormat &forSavedIndex(qint64 index);
    static bool isSavedIndex(qint64 index);
    // Every format's extensions, in menu order.
    static QStringList allExtensions();
};

} // namespace platform
