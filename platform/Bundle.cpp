#include "platform/Bundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#ifndef KANTELO_VERSION
#define KANTELO_VERSION "3.0.0"
#endif
#ifndef KANTELO_BUILD_RESOURCE_DIR
#define KANTELO_BUILD_RESOURCE_DIR ""
#endif

namespace platform {
namespace Bundle {

QString name()
{
    return QStringLiteral("Kantelo");
}

QString identifier()
{
    return QStringLiteral("com.velmoorsoft.Kantelo3");
}

QString shortVersionString()
{
    return QStringLiteral(KANTELO_VERSION);
}

QString version()
{
    // The build number: major, minor and patch run together ("3.0.0" -> "300").
    QString digits = shortVersionString();
    digits.remove(QLatin1Char('.'));
    return digits;
}

QString resourcePath()
{
    const QString fromEnv = qEnvironmentVariable("KANTELO_RESOURCES");
    if (!fromEnv.isEmpty())
        return QDir::cleanPath(fromEnv);
    if (QCoreApplication::instance()) {
        const QString installed =
            QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/kantelo"));
        if (QFileInfo(installed).isDir())
            return installed;
    }
    return QDir::cleanPath(QStringLiteral(KANTELO_BUILD_RESOURCE_DIR));
}

QString pathForResource(const QString &name, const QString &extension)
{
    if (name.isEmpty())
        return {};
    // Resource names come from code, but a name must still not climb out.
    const QStringList parts = name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        if (part == QLatin1String(".."))
            return {};
    }
    QString fileName = name;
    if (!extension.isEmpty())
        fileName += QLatin1Char('.') + extension;
    const QString path = resourcePath() + QLatin1Char('/') + fileName;
    return QFileInfo::exists(path) ? QDir::cleanPath(path) : QString();
}

} // namespace Bundle

QString applicationSupportFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/Kantelo");
    QDir().mkpath(folder);
    return folder;
}

} // namespace platform
