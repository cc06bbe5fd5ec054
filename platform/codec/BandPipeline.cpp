#include "platform/codec/BandPipeline.h"

#include "platform/ThreadPools.h"
#include "platform/codec/CodecErrors.h"
#include "platform/codec/PixelRows.h"

#include <QScopeGuard>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

namespace platform {

BandPipeline::Outcome BandPipeline::run(const PictureBands &bands, const RowReadHook &hook, const Encode &encode)
{
    const int height = bands.size.height();
    const int rows = std::max(1, bands.rows);
    const int count = (height + rows - 1) / rows;
    const int inFlight = std::max(1, bands.inFlight);
    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::pair<QImage, int>> queue; // made, not yet taken by the encoder
    int encoded = 0;
    bool failed = false;
    Rows progress;
    std::atomic<bool> begun{false};

    // Takes the next band made, encodes it and says so; false when there is
    // none to take (stopped) or its encoding failed.
    const auto encodeNext = [&](bool wait) {
        std::pair<QImage, int> next;
        {
            std::unique_lock<std::mutex> guard(lock);
            if (wait)
                changed.wait(guard, [&] { return !queue.empty() || progress.m_stop.load(); });
            if (queue.empty() || progress.m_stop.load())
                return false;
            next = std::move(queue.front());
            queue.pop_front();
        }
        const bool ok = encode(next.first, next.second, progress);
        next.first = QImage();
        {
            const std::lock_guard<std::mutex> guard(lock);
            if (ok)
                ++encoded;
            else
                failed = true;
        }
        changed.notify_all();
        return ok;
    };
    std::unique_ptr<PoolJob> job;
    if (count > 1 && poolThreadCount(Pool::Parallel) > 1) {
        job = std::make_unique<PoolJob>(Pool::Parallel, [&] {
            begun = true;
            for (int i = 0; i < count && encodeNext(true); ++i) {
            }
        });
    }
    // Stops the encoder and waits for it however this thread leaves.
    const auto stopEncoder = qScopeGuard([&] {
        if (!job)
            return;
        {
            const std::lock_guard<std::mutex> guard(lock);
            progress.m_stop = true;
        }
        changed.notify_all();
        if (!job->cancelIfNotStarted())
            job->wait();
    });

    qint64 told = 0;
    bool cancelled = false;
    // Told in the order of the rows, and on this thread only.
    const auto report = [&] {
        const qint64 written = std::min<qint64>(progress.m_written.load(), height);
        if (written > told && !cancelled) {
            told = written;
            if (hook && !hook(told, height))
                cancelled = true;
        }
    };
    int made = 0;
    for (;;) {
        bool room = false;
        bool done = false;
        {
            std::unique_lock<std::mutex> guard(lock);
            const auto ready = [&] {
                return failed || encoded == count || (made < count && made - encoded < inFlight);
            };
            if (job)
                changed.wait_for(guard, std::chrono::milliseconds(20), ready);
            done = failed || encoded == count;
            room = !done && made < count && made - encoded < inFlight;
        }
        report();
        if (done || cancelled)
            break;
        if (!room) {
            // Pool threads busy elsewhere: this thread takes the encoding on.
            if (job && !begun && job->cancelIfNotStarted()) {
                job.reset();
                while (encodeNext(false))
                    report();
            }
            continue;
        }
        const int first = made * rows;
        QImage band = bands.band(first, std::min(rows, height - first));
        if (band.isNull()) {
            cancelled = true;
            break;
        }
        if (!PixelRows::isSupported(band.format()))
            band = band.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        ++made;
        {
            const std::lock_guard<std::mutex> guard(lock);
            queue.emplace_back(std::move(band), first);
        }
        changed.notify_all();
        if (!job)
            encodeNext(false);
    }
    if (job && !cancelled) {
        job->wait();
        job.reset();
    }
    if (cancelled)
        return Outcome::Cancelled;
    return failed ? Outcome::Failed : Outcome::Done;
}

BandPipeline::TransparencyCheck::TransparencyCheck(const PictureBands &bands)
    : m_alpha(bands.transparent)
    , m_checking(bands.mayStartOver)
{
}

bool BandPipeline::TransparencyCheck::check(const QImage &band)
{
    // One transparent pixel settles it either way.
    if (!m_checking || m_seen || !PixelRows::hasTransparency(band))
        return true;
    m_seen = true;
    m_wrong = !m_alpha;
    return !m_wrong;
}

bool BandPipeline::TransparencyCheck::wrong(Outcome outcome, Error *error) const
{
    if (!m_wrong && !(outcome == Outcome::Done && m_checking && m_alpha && !m_seen))
        return false;
    codecError(error, CodecError::StartOver, QStringLiteral("The picture's transparency was guessed wrong."));
    return true;
}

bool BandPipeline::isEmpty(const PictureBands &bands, Error *error)
{
    if (!bands.size.isEmpty() && bands.band)
        return false;
    codecError(error, CodecError::EmptyImage, QStringLiteral("There is no picture to write."));
    return true;
}

} // namespace platform
