#pragma once

#include "design/KTTemplate.h"
#include "platform/Error.h"

#include <QByteArray>
#include <QSizeF>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

// Renders a design at a pixel size and encodes it as one type, off the main
// thread: the file-size estimate of the save panel runs one at a time on its
// own queue. The design is copied for rendering when the operation is made
// (on the thread that owns it), so the worker never touches the design the
// screen draws.
//
// Progress runs 0 to 50 % over the layers and 50 to 100 % while the encoder
// reads the pixels; a cancel stops either.
class KTDataFromTemplateOperation
{
public:
    using CancelBlock = KTTemplate::CancelBlock;
    using ProgressBlock = KTTemplate::ProgressBlock;
    using FinishedBlock = std::function<void(KTDataFromTemplateOperation *operation)>;

    // Sizes below this many pixels on either side are not worth encoding.
    static constexpr double kMinimumSide = 16;

    KTDataFromTemplateOperation(std::shared_ptr<KTTemplate> design, const QString &uti, const QSizeF &size,
                                CancelBlock isCancelledBlock, ProgressBlock updateProgressBlock,
                                FinishedBlock finishedBlock);

    // The work; runs on the calling thread. Nothing happens when cancelled
    // or too small; otherwise the finished block is called once the picture
    // is encoded, or failed to be (imageData() empty, error() saying why).
    void main();
    // Any thread.
    void cancel() { m_cancelled = true; }
    bool isCancelled() const;

    std::optional<QByteArray> imageData() const;
    platform::Error error() const;
    std::shared_ptr<KTTemplate> theTemplate() const;
    // Must be called before main(), on the thread that owns the design.
    void setTheTemplate(std::shared_ptr<KTTemplate> design);
    QString uti() const { return m_uti; }
    QSizeF size() const { return m_size; }

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<KTTemplate> m_theTemplate;
    std::shared_ptr<KTTemplate> m_renderCopy;
    QString m_uti;
    QSizeF m_size;
    CancelBlock m_cancelBlock;
    ProgressBlock m_progressBlock;
    FinishedBlock m_finishedBlock;
    std::optional<QByteArray> m_imageData;
    platform::Error m_error;
    std::atomic<bool> m_cancelled{false};
};
