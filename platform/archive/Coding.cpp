#include "platform/archive/Coding.h"

#include <QObject>

namespace platform {

QStringList Coding::classNamesFromMetaObject(const QMetaObject *metaObject)
{
    QStringList names;
    for (const QMetaObject *m = metaObject; m && m != &QObject::staticMetaObject; m = m->superClass()) {
        QString name = QString::fromLatin1(m->className());
        const qsizetype colons = name.lastIndexOf(QLatin1String("::"));
        if (colons >= 0)
            name = name.mid(colons + 2);
        names.append(name);
    }
    names.append(QStringLiteral("NSObject"));
    return names;
}

} // namespace platform
