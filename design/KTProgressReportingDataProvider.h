#pragma once

#include <QImage>
#include <QtGlobal>

#include <functional>
#include <memory>

class KTTemplate;

// The rendered pixels of an export, handed to an encoder slice by slice:
// before each read it asks the cancel block (a yes hands out nothing, and the
// encoding fails), after it tells the progress block how much of the picture
// has been read. The pixels are rendered once and never copied; the provider
// owns them from then on.
//
// Used by the one thread that encodes the picture.
class KTProgressReportingDataProvider
{
public:
    // The sender (the design) and a percentage, 0 to 100.
    using ProgressBlock = std::function<void(KTTemplate *owner, double percent)>;
    // Answers true to cancel.
    using CancelBlock = std::function<bool(KTTemplate *owner)>;

    KTProgressReportingDataProvider(QImage bitmap, KTTemplate *owner, ProgressBlock progress, CancelBlock cancel);

    const QImage &bitmap() const { return m_bitmap; }
    int width() const { return m_bitmap.width(); }
    int height() const { return m_bitmap.height(); }
    // width × height × 4.
    qint64 size() const { return m_size; }

    // One read of `count` bytes at `position`: false (nothing handed out)
    // when cancelled, else the progress block hears (position + count) ÷ size.
    bool getBytesAtPosition(qint64 position, qint64 count);
    // The same in rows, as the encoders count them: the reader is about to
    // have read `rowsRead` of `rowsInAll` row reads.
    bool readRows(qint64 rowsRead, qint64 rowsInAll);

private:
    QImage m_bitmap;
    qint64 m_size = 0;
    KTTemplate *m_owner = nullptr; // not owned
    ProgressBlock m_progress;
    CancelBlock m_cancel;
};

// A provider over the bitmap `context`; null when the bitmap is null.
std::shared_ptr<KTProgressReportingDataProvider>
KTCreateProgressReportingDataProvider(QImage context, KTTemplate *owner,
                                      KTProgressReportingDataProvider::ProgressBlock progress,
                                      KTProgressReportingDataProvider::CancelBlock cancel);
