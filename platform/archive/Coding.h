#pragma once

#include <QMetaType>
#include <QStringList>

#include <memory>

namespace platform {

class KeyedArchiver;
class KeyedUnarchiver;

// An object that keyed archives can hold: it writes its values under keys and
// reads them back. A class writes its base class's keys first and reads them
// first. The unarchiver creates the object through the factory registered
// for its class name (KeyedClassRegistry) and then calls decode(); problems
// are reported with KeyedUnarchiver::failWithError, never by throwing.
class Coding
{
public:
    virtual ~Coding() = default;

    // The archived class names: the object's own class first, then its base
    // classes, ending with "NSObject" (see classNamesFromMetaObject).
    virtual QStringList archiveClassNames() const = 0;
    virtual void encode(KeyedArchiver &coder) const = 0;
    virtual void decode(KeyedUnarchiver &coder) = 0;

    // The class chain of a QObject class up to QObject, which is archived as
    // "NSObject" ({"KTFullFrameLayer", "KTFrameLayer", "KTLayer", "NSObject"}).
    static QStringList classNamesFromMetaObject(const QMetaObject *metaObject);
};

} // namespace platform

Q_DECLARE_METATYPE(std::shared_ptr<platform::Coding>)
