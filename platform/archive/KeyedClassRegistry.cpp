#include "platform/archive/KeyedClassRegistry.h"

#include "platform/archive/Color.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/archive/StyledText.h"

namespace platform {

namespace {

template<class T>
KeyedClassRegistry::ValueCodec codecFor(const QStringList &classNames)
{
    KeyedClassRegistry::ValueCodec codec;
    codec.classNames = classNames;
    codec.encode = [](const QVariant &value, KeyedArchiver &coder) { value.value<T>().encode(coder); };
    codec.decode = [](KeyedUnarchiver &coder) { return QVariant::fromValue(T::decode(coder)); };
    return codec;
}

} // namespace

KeyedClassRegistry &KeyedClassRegistry::shared()
{
    static KeyedClassRegistry registry;
    return registry;
}

KeyedClassRegistry::KeyedClassRegistry()
{
    const QString object = QStringLiteral("NSObject");
    registerValueCodec(qMetaTypeId<Color>(), {QStringLiteral("NSColor")}, codecFor<Color>(Color::archiveClassNames()));
    registerValueCodec(qMetaTypeId<StyledText>(),
                       {QStringLiteral("NSAttributedString"), QStringLiteral("NSMutableAttributedString")},
                       codecFor<StyledText>(StyledText::archiveClassNames()));
    registerValueCodec(qMetaTypeId<StyledText::Font>(), {QStringLiteral("NSFont")},
                       codecFor<StyledText::Font>({QStringLiteral("NSFont"), object}));
    registerValueCodec(qMetaTypeId<StyledText::ParagraphStyle>(),
                       {QStringLiteral("NSParagraphStyle"), QStringLiteral("NSMutableParagraphStyle")},
                       codecFor<StyledText::ParagraphStyle>({QStringLiteral("NSParagraphStyle"), object}));
    registerValueCodec(qMetaTypeId<StyledText::Shadow>(), {QStringLiteral("NSShadow")},
                       codecFor<StyledText::Shadow>({QStringLiteral("NSShadow"), object}));
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
