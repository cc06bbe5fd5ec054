#include "design/KTPreparedPictureCache.h"

#include "design/VLImage.h"
#include "platform/render/DrawingContext.h"

#include <QDataStream>
#include <QIODevice>

namespace {
thread_local KTPreparedPictureCache *t_current = nullptr;
}

KTPreparedPictureCache::KTPreparedPictureCache(qint64 byteLimit)
    : m_byteLimit(byteLimit)
{
}

KTPreparedPictureCache::~KTPreparedPictureCache() = default;

KTPreparedPictureCache::Scope::Scope(KTPreparedPictureCache *cache)
    : m_previous(t_current)
{
    t_current = cache;
}

KTPreparedPictureCache::Scope::~Scope()
{
    t_current = m_previous;
}

KTPreparedPictureCache *KTPreparedPictureCache::current()
{
    return t_current;
}

QByteArray KTPreparedPictureCache::keyFor(const VLImage &image, const QRectF &rect)
{
    // The rendering depends on the device pixels the rect covers, not on
    // where the rect lies.
    const QSizeF pixels = image.scaleSize(rect.size());
    QByteArray key;
    QDataStream out(&key, QIODevice::WriteOnly);
    out << image.bitmapCtx().cacheKey() << quintptr(image.pdfDocument().get()) << qint32(image.PDFRotationDegrees())
        << quint32(image.rotation()) << image.crop().left << image.crop().top << image.crop().right
        << image.crop().bottom << qint32(pixels.width()) << qint32(pixels.height());
    for (const auto &filter : image.filters()) {
        if (filter)
            out << filter->name() << filter->values();
    }
    return key;
}

QImage KTPreparedPictureCache::preparedPicture(const VLImage &image, const QRectF &rect)
{
    const QByteArray key = keyFor(image, rect);
    std::shared_ptr<Entry> entry;
    {
        std::lock_guard lock(m_mutex);
        auto &slot = m_entries[key];
        if (!slot)
            slot = std::make_shared<Entry>();
        entry = slot;
    }
    std::lock_guard entryLock(entry->mutex);
    if (entry->done) {
        ++m_hits;
        return entry->image;
    }
    // A private copy renders: the picture itself may be shared with other threads.
    entry->image = image.copyForRendering()->newContextToDrawInRect(rect, true);
    entry->done = true;
    ++m_renders;
    const qint64 size = entry->image.sizeInBytes();
    std::lock_guard lock(m_mutex);
    if (m_bytes + size > m_byteLimit) {
        // Over the limit: hand this rendering out without keeping it.
        m_entries.remove(key);
    } else {
        m_bytes += size;
    }
    return entry->image;
}

void KTPreparedPictureCache::drawImageInRect(const VLImage &image, const QRectF &rect)
{
    platform::DrawingContext *ctx = platform::DrawingContext::current();
    if (!ctx)
        return;
    const QImage prepared = preparedPicture(image, rect);
    if (prepared.isNull())
        return;
    ctx->saveGState();
    ctx->setOpacity(image.opacity());
    ctx->drawImage(rect, prepared);
    ctx->restoreGState();
}

qint64 KTPreparedPictureCache::bytes() const
{
    std::lock_guard lock(m_mutex);
    return m_bytes;
}

void KTPreparedPictureCache::clear()
{
    std::lock_guard lock(m_mutex);
    m_entries.clear();
    m_bytes = 0;
}
