#pragma once

#include "platform/Error.h"
#include "platform/codec/PictureBands.h"
#include "platform/codec/RowReadHook.h"

#include <QImage>

#include <atomic>
#include <functional>

namespace platform {

// Runs a picture's bands through one encoder that takes them in order on a
// thread of the Parallel pool (or on the calling thread, when the pool is
// busy elsewhere), while the calling thread draws the next ones: the
// lossless formats write a single stream, so their bands overlap drawing
// and encoding rather than encoding side by side. Progress (`hook`) and
// cancelling are told on the calling thread, as the whole picture's are.
class BandPipeline
{
public:
    enum class Outcome { Done, Failed, Cancelled };

    // Told by the encoder as it writes rows; false once it must stop.
    class Rows
    {
    public:
        bool written(int count = 1)
        {
            m_written.fetch_add(count, std::memory_order_relaxed);
            return !m_stop.load(std::memory_order_relaxed);
        }

    private:
        friend class BandPipeline;
        std::atomic<qint64> m_written{0};
        std::atomic<bool> m_stop{false};
    };

    // Writes the rows of `band` (rows [first, first + band.height()) of the
    // picture, in a layout PixelRows reads); false stops with Failed.
    using Encode = std::function<bool(const QImage &band, int first, Rows &rows)>;

    static Outcome run(const PictureBands &bands, const RowReadHook &hook, const Encode &encode);
    // Bands of no picture: true, with the error.
    static bool isEmpty(const PictureBands &bands, Error *error);

    // Holds the pixels to the guess of `PictureBands::transparent`, band by band.
    class TransparencyCheck
    {
    public:
        explicit TransparencyCheck(const PictureBands &bands);
        // False once `band` proves a guess of no transparency wrong.
        bool check(const QImage &band);
        // Once the bands are written (or stopped): whether the guess was
        // wrong, the error then telling the encoder to start over.
        bool wrong(Outcome outcome, Error *error) const;

    private:
        bool m_alpha;
        bool m_checking;
        bool m_seen = false;
        bool m_wrong = false;
    };
};

} // namespace platform
