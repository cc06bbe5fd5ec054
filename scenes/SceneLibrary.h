#pragma once

#include "scenes/QuietShell.h"

#include <QColor>
#include <QList>
#include <QPair>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class Frame;
class LibraryStore;
namespace platform {
class ManagedObjectContext;
}

namespace scenes {

// A frame library on a real store in a folder of its own (a temporary one
// unless given), the process's shared library while it lives.
class SceneLibrary
{
public:
    explicit SceneLibrary(const QString &supportFolder = QString());
    ~SceneLibrary();

    platform::ManagedObjectContext *moc() const;
    // A frame of the type (made when the store lacks it) with pictures read
    // from files: (attribute, path) pairs.
    Frame *frame(const QString &type, const QString &name, const QList<QPair<QString, QString>> &pictures = {});
    // A colour mat of the colour.
    Frame *colorMat(const QString &name, const QColor &color);

private:
    QTemporaryDir m_temporary;
    QuietShell m_shell;
    std::unique_ptr<LibraryStore> m_store;
};

} // namespace scenes
