#include "platform/render/ShadowCache.h"

#include <algorithm>

namespace platform {

namespace {
thread_local bool t_makeAtOnce = false;
}

ShadowCache::MakeAtOnce::MakeAtOnce()
    : m_previous(t_makeAtOnce)
{
    t_makeAtOnce = true;
}

ShadowCache::MakeAtOnce::~MakeAtOnce()
{
    t_makeAtOnce = m_previous;
}

ShadowCache::ShadowCache(qint64 byteLimit, qint64 groupByteLimit)
    : m_byteLimit(byteLimit)
    , m_groupByteLimit(groupByteLimit)
{
}

ShadowCache::~ShadowCache() = default;

ShadowCache::Mask::Mask(const QRect &r)
    : rect(r)
{
    from.reserve(size_t(std::max(0, r.height())));
    to.reserve(size_t(std::max(0, r.height())));
    at.reserve(size_t(std::max(0, r.height())));
}

void ShadowCache::Mask::appendRow(const uchar *row)
{
    const int w = rect.width();
    int first = 0;
    while (first < w && row[first] == 0)
        ++first;
    int end = w;
    while (end > first && row[end - 1] == 0)
        --end;
    from.push_back(first);
    to.push_back(end);
    at.push_back(qsizetype(values.size()));
    values.insert(values.end(), row + first, row + end);
}

const uchar *ShadowCache::Mask::row(int y, int *first, int *end) const
{
    if (y < 0 || size_t(y) >= from.size()) {
        *first = *end = 0;
        return nullptr;
    }
    *first = from[size_t(y)];
    *end = to[size_t(y)];
    return values.data() + at[size_t(y)] - *first;
}

qint64 ShadowCache::Mask::laidBytes() const
{
    qint64 total = 0;
    for (const Piece &piece : laid)
        total += piece.pixels.sizeInBytes() + qint64(sizeof(Piece));
    return total;
}

qint64 ShadowCache::Mask::bytes() const
{
    return qint64(values.capacity()) + qint64(from.capacity() + to.capacity()) * qint64(sizeof(int))
           + qint64(at.capacity() * sizeof(qsizetype)) + qint64(group.sizeInBytes()) + qint64(sizeof(Mask)) + laidBytes();
}

std::shared_ptr<const ShadowCache::Mask> ShadowCache::obtain(const QByteArray &key,
                                                             const std::function<std::shared_ptr<const Mask>()> &make,
                                                             bool wait)
{
    std::shared_ptr<Entry> entry;
    {
        std::unique_lock lock(m_mutex);
        // Two keys of one hash only make a mask sooner.
        const size_t hash = qHash(key);
        if (!m_asked.contains(hash)) {
            m_asked.insert(hash);
            if (!t_makeAtOnce)
                return nullptr;
        }
        auto &slot = m_entries[key];
        if (!slot)
            slot = std::make_shared<Entry>();
        entry = slot;
        if (entry->making && !wait)
            return nullptr;
        // Made already, or being made by another thread.
        if (entry->making || entry->done) {
            m_entryDone.wait(lock, [&] { return entry->done; });
            if (entry->mask)
                ++m_hits;
            return entry->mask;
        }
        entry->making = true;
    }
    std::shared_ptr<const Mask> mask;
    try {
        mask = make();
    } catch (...) {
        // Those waiting, and later callers, draw without it.
        {
            std::lock_guard lock(m_mutex);
            entry->making = false;
            entry->done = true;
        }
        m_entryDone.notify_all();
        throw;
    }
    {
        std::lock_guard lock(m_mutex);
        entry->making = false;
        entry->done = true;
        if (mask) {
            ++m_made;
            const qint64 size = mask->bytes();
            // Past the limit a key keeps no mask: later callers draw without one
            // rather than make it again and again.
            qint64 &kept = mask->group.isNull() ? m_bytes : m_groupBytes;
            if (kept + size <= (mask->group.isNull() ? m_byteLimit : m_groupByteLimit)) {
                entry->mask = mask;
                kept += size;
            }
        }
    }
    m_entryDone.notify_all();
    return mask;
}

qint64 ShadowCache::bytes() const
{
    std::lock_guard lock(m_mutex);
    return m_bytes + m_groupBytes;
}

} // namespace platform
