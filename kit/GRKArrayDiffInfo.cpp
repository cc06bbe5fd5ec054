#include "kit/GRKArrayDiffInfo.h"

#include "platform/Log.h"

namespace {

quint64 rotateLeft(quint64 value, unsigned bits)
{
    bits %= 64;
    return bits == 0 ? value : (value << bits) | (value >> (64 - bits));
}

QString numberText(std::optional<qint64> value)
{
    return value ? QString::number(*value) : QStringLiteral("(null)");
}

} // namespace

GRKArrayDiffInfo::GRKArrayDiffInfo(QString identity, std::optional<qint64> previousIndex,
                                   std::optional<qint64> currentIndex)
    : m_identity(std::move(identity))
    , m_previousIndex(previousIndex)
    , m_currentIndex(currentIndex)
{
}

std::optional<qint64> GRKArrayDiffInfo::valueForIndexType(int indexType) const
{
    switch (indexType) {
    case Previous:
        return m_previousIndex;
    case Current:
        return m_currentIndex;
    default:
        platform::logLine(
            QStringLiteral("[ERROR] GRKArrayDiffInfo: Unhandled case (%1) for `valueForIndexType:`")
                .arg(indexType));
        return std::nullopt;
    }
}

std::optional<GRKIndexPath> GRKArrayDiffInfo::indexPathForIndexTypeWithSection(int indexType,
                                                                               qint64 section) const
{
    const auto value = valueForIndexType(indexType);
    if (!value)
        return std::nullopt;
    return GRKIndexPath{section, *value};
}

quint64 GRKArrayDiffInfo::hash() const
{
    const quint64 parts[3] = {
        m_identity.isNull() ? 0 : quint64(::qHash(m_identity)),
        m_previousIndex ? quint64(::qHash(*m_previousIndex)) : 0,
        m_currentIndex ? quint64(::qHash(*m_currentIndex)) : 0,
    };
    quint64 accumulated = 0;
    unsigned count = 0;
    for (quint64 h : parts) {
        if (h == 0)
            h = 31;
        if (accumulated == 0) {
            accumulated = h;
            count = 1;
        } else {
            ++count;
            accumulated ^= rotateLeft(h, 64 / count);
        }
    }
    return accumulated;
}

bool GRKArrayDiffInfo::isEqualToArrayDiffInfo(const GRKArrayDiffInfo &other) const
{
    return m_identity == other.m_identity && m_previousIndex == other.m_previousIndex
        && m_currentIndex == other.m_currentIndex;
}

QString GRKArrayDiffInfo::description() const
{
    return QStringLiteral("<GRKArrayDiffInfo: 0x%1, identity '%2', previousIndex '%3', currentIndex '%4'>")
        .arg(quintptr(this), 0, 16)
        .arg(m_identity, numberText(m_previousIndex), numberText(m_currentIndex));
}

size_t qHash(const GRKArrayDiffInfo &info, size_t seed)
{
    return size_t(info.hash()) ^ seed;
}
