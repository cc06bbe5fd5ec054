#include "app/KTApplicationIcon.h"

#include "platform/Bundle.h"

#include <QDir>
#include <QFileInfo>

QIcon KTApplicationIcon::icon()
{
    QIcon drawn;
    const QDir hicolor(platform::Bundle::resourcePath() + QStringLiteral("/../icons/hicolor"));
    for (const QString &size : hicolor.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString file =
            hicolor.filePath(size + QStringLiteral("/apps/") + QString::fromLatin1(kName) + QStringLiteral(".png"));
        if (QFileInfo::exists(file))
            drawn.addFile(file);
    }
    // The build's own drawing first: a theme may hold an older install's.
    return drawn.isNull() ? QIcon::fromTheme(QString::fromLatin1(kName)) : drawn;
}
