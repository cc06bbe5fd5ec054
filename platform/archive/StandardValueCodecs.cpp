#include "platform/archive/Color.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedClassRegistry.h"
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

void KeyedClassRegistry::registerStandardValueCodecs()
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

} // namespace platform
