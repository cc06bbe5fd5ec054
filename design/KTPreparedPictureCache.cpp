#include "design/KTPreparedPictureCache.h"

#include "design/VLImage.h"
#include "platform/render/AlphaBlur.h"
#include "platform/render/DrawingContext.h"

#include <QDataStream>
#include <QIODevice>

KTPreparedPictureCache::KTPreparedPictureCache(qint64 byteLimit)
    : m_byteLimit(byteLimit)
{
}

KTPreparedPictureCache::~KTPreparedPictureCache() = default;

QByteArray KTPreparedPictureCache::keyFor(const VLImage &image, const QRectF &rect, const platform::ColorMatch *match)
{
    // The rendering depends on the device pixels the rect covers, not on
    // where the rect lies, and on the colour space it is matched to.
    const QSizeF pixels = image.scaleSize(rect.size());
    QByteArray key;
    QDataStream out(&key, QIODevice::WriteOnly);
    out << (match && match->needsMatching(image.colorSpace()) ? match->key() : QByteArray());
    out << image.bitmapCtx().cacheKey() << quintptr(image.pdfDocument().get()) << qint32(image.PDFRotationDegrees())
        << quint32(image.rotation()) << image.crop().left << image.crop().top << image.crop().right
        << image.crop().bottom << qint32(pixels.width()) << qint32(pixels.height());
    for (const auto &filter : image.filters()) {
        if (filter)
            out << filter->name() << filter->values();
    }
    return key;
}

namespace {
// How the current drawing context matches colours, if it does.
const platform::ColorMatch *currentMatch()
{
    const platform::DrawingContext *ctx = platform::DrawingContext::current();
    return ctx ? ctx->colorMatch().get() : nullptr;
}
} // namespace

QImage KTPreparedPictureCache::preparedPicture(const VLImage &image, const QRectF &rect)
{
    const platform::ColorMatch *match = currentMatch();
    return prepare(keyFor(image, rect, match), image, image.scaleSize(rect.size()), match);
}

QImage KTPreparedPictureCache::prepare(const QByteArray &key, const VLImage &image, const QSizeF &pixels,
                                       const platform::ColorMatch *match)
{
    QImage prepared;
    prepare(key, image, pixels, match, true, &prepared);
    return prepared;
}

bool KTPreparedPictureCache::prepare(const QByteArray &key, const VLImage &image, const QSizeF &pixels,
                                     const platform::ColorMatch *match, bool wait, QImage *prepared)
{
    std::shared_ptr<Entry> entry;
    {
        std::lock_guard lock(m_mutex);
        auto &slot = m_entries[key];
        if (!slot)
            slot = std::make_shared<Entry>();
        entry = slot;
    }
    std::unique_lock entryLock(entry->mutex, std::defer_lock);
    if (wait)
        entryLock.lock();
    else if (!entryLock.try_lock())
        return false;
    if (entry->done) {
        ++m_hits;
        *prepared = entry->image;
        return true;
    }
    {
        // Rendered at one device pixel to the unit, whatever context this
        // thread draws into: the size in pixels was taken by the caller.
        QImage unit(1, 1, QImage::Format_ARGB32_Premultiplied);
        platform::DrawingContext context(unit);
        // A private copy renders: the picture itself may be shared with other threads.
        entry->image = image.copyForRendering()->newContextToDrawInRect(QRectF(QPointF(0, 0), pixels), true);
    }
    if (match)
        entry->image = match->picture(std::move(entry->image), image.colorSpace());
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
    *prepared = entry->image;
    return true;
}

void KTPreparedPictureCache::preparePictures(const std::vector<std::pair<const VLImage *, QRectF>> &pictures)
{
    struct Job {
        QByteArray key;
        const VLImage *image;
        QSizeF pixels;
    };
    const platform::ColorMatch *match = currentMatch();
    std::vector<Job> concurrent;
    for (const auto &[image, rect] : pictures) {
        if (!image)
            continue;
        Job job{keyFor(*image, rect, match), image, image->scaleSize(rect.size())};
        // One PDF document is not rendered from two threads at once.
        if (image->isPDF())
            prepare(job.key, *job.image, job.pixels, match);
        else
            concurrent.push_back(std::move(job));
    }
    // A batch's workers all start with the same pictures: each takes one
    // no other is rendering before it waits for those the others took.
    std::vector<char> left(concurrent.size(), 0);
    platform::AlphaBlur::parallelFor(int(concurrent.size()), 1, [&](int first, int end) {
        QImage prepared;
        for (int i = first; i < end; ++i) {
            const Job &job = concurrent[size_t(i)];
            left[size_t(i)] = !prepare(job.key, *job.image, job.pixels, match, false, &prepared);
        }
    });
    for (size_t i = 0; i < concurrent.size(); ++i) {
        if (left[i])
            prepare(concurrent[i].key, *concurrent[i].image, concurrent[i].pixels, match);
    }
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
