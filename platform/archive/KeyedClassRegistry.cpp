#include "platform/archive/KeyedClassRegistry.h"

namespace platform {

KeyedClassRegistry &KeyedClassRegistry::shared()
{
    static KeyedClassRegistry registry;
    return registry;
}

KeyedClassRegistry::KeyedClassRegistry()
{
    registerStandardValueCodecs();
}

void KeyedClassRegistry::registerClass(const QString &className, Factory factory)
{
    QMutexLocker lock(&m_mutex);
    m_factories.insert(className, std::move(factory));
}

KeyedClassRegistry::Factory KeyedClassRegistry::factoryForClassName(const QString &className) const
{
    QMutexLocker lock(&m_mutex);
    return m_factories.value(className);
}

void KeyedClassRegistry::registerValueCodec(int metaTypeId, const QStringList &decodeNames, const ValueCodec &codec)
{
    QMutexLocker lock(&m_mutex);
    auto shared = std::make_shared<const ValueCodec>(codec);
    m_codecsByType.insert(metaTypeId, shared);
    for (const QString &name : decodeNames)
        m_codecsByName.insert(name, shared);
}

std::shared_ptr<const KeyedClassRegistry::ValueCodec> KeyedClassRegistry::codecForMetaType(int metaTypeId) const
{
    QMutexLocker lock(&m_mutex);
    return m_codecsByType.value(metaTypeId);
}

std::shared_ptr<const KeyedClassRegistry::ValueCodec> KeyedClassRegistry::codecForClassName(const QString &className) const
{
    QMutexLocker lock(&m_mutex);
    return m_codecsByName.value(className);
}

} // namespace platform
