#pragma once

#include "platform/codec/ExportFormat.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// One output format of a batch run, taken from the export formats: display
// name, type identifier and file extensions (the first names new files). Two
// formats are equal when their type identifiers are.
class KTImageFileFormat
{
public:
    KTImageFileFormat(QString name, QString uti, QStringList fileExtensions);

    static KTImageFileFormat JPGFileFormat();
    static KTImageFileFormat PNGFileFormat();
    static KTImageFileFormat TIFFFileFormat();
    static KTImageFileFormat PSDFileFormat();
    // In the order of the format menu and of the export format index.
    static QList<KTImageFileFormat> allFormats();
    // Exactly one of the formats' identifiers; subtypes are not.
    static bool isImageUTI(const QString &uti);
    // The format of that identifier; none for any other.
    static std::optional<KTImageFileFormat> initWithImageUTI(const QString &uti);

    QString name() const { return m_name; }
    QString UTI() const { return m_uti; }
    QStringList fileExtensions() const { return m_fileExtensions; }
    bool hasQuality() const;

    bool operator==(const KTImageFileFormat &other) const { return m_uti == other.m_uti; }

private:
    static KTImageFileFormat fromExportFormat(platform::ExportFormat::Id id);

    QString m_name;
    QString m_uti;
    QStringList m_fileExtensions;
};

size_t qHash(const KTImageFileFormat &format, size_t seed = 0);
