#pragma once

#include "platform/archive/Coding.h"

#include <QHash>
#include <QMutex>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>

namespace platform {

// Which C++ class stands for an archived class name. Object classes register
// a factory (a fresh object, then decode()); value types such as colours and
// styled text register a codec that turns a QVariant into an archived object
// and back. Thread-safe: registration normally happens at start-up.
class KeyedClassRegistry
{
public:
    using Factory = std::function<std::shared_ptr<Coding>()>;
    using ValueEncoder = std::function<void(const QVariant &value, KeyedArchiver &coder)>;
    using ValueDecoder = std::function<QVariant(KeyedUnarchiver &coder)>;

    struct ValueCodec {
        QStringList classNames; // written as the class chain, the first one as $classname
        ValueEncoder encode;
        ValueDecoder decode;
    };

    static KeyedClassRegistry &shared();

    void registerClass(const QString &className, Factory factory);
    template<class T>
    void registerClass(const QString &className)
    {
        registerClass(className, [] { return std::static_pointer_cast<Coding>(std::make_shared<T>()); });
    }
    Factory factoryForClassName(const QString &className) const;

    // `decodeNames` are the archived names the decoder accepts.
    void registerValueCodec(int metaTypeId, const QStringList &decodeNames, const ValueCodec &codec);
    std::shared_ptr<const ValueCodec> codecForMetaType(int metaTypeId) const;
    std::shared_ptr<const ValueCodec> codecForClassName(const QString &className) const;

private:
    KeyedClassRegistry();
    // Colours and styled text. Defined beside those types (StandardValueCodecs.cpp)
    // so that the registry, which the archivers use, knows none of them.
    void registerStandardValueCodecs();

    mutable QMutex m_mutex;
    QHash<QString, Factory> m_factories;
    QHash<int, std::shared_ptr<const ValueCodec>> m_codecsByType;
    QHash<QString, std::shared_ptr<const ValueCodec>> m_codecsByName;
};

} // namespace platform
