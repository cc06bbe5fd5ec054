#include "design/KTDataFromTemplateOperation.h"

#include "design/KTProgressReportingDataProvider.h"

#include <utility>

KTDataFromTemplateOperation::KTDataFromTemplateOperation(std::shared_ptr<KTTemplate> design, const QString &uti,
                                                         const QSizeF &size, CancelBlock isCancelledBlock,
                                                         ProgressBlock updateProgressBlock,
                                                         FinishedBlock finishedBlock)
    : m_uti(uti)
    , m_size(size)
    , m_cancelBlock(std::move(isCancelledBlock))
    , m_progressBlock(std::move(updateProgressBlock))
    , m_finishedBlock(std::move(finishedBlock))
{
    setTheTemplate(std::move(design));
}

void KTDataFromTemplateOperation::setTheTemplate(std::shared_ptr<KTTemplate> design)
{
    std::shared_ptr<KTTemplate> copy;
    if (design) {
        copy = design->copyForRendering();
        copy->setExportMode(true);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_theTemplate = std::move(design);
    m_renderCopy = std::move(copy);
}

std::shared_ptr<KTTemplate> KTDataFromTemplateOperation::theTemplate() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_theTemplate;
}

bool KTDataFromTemplateOperation::isCancelled() const
{
    if (m_cancelled)
        return true;
    return m_cancelBlock && m_cancelBlock(theTemplate().get());
}

std::optional<QByteArray> KTDataFromTemplateOperation::imageData() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_imageData;
}

platform::Error KTDataFromTemplateOperation::error() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}

void KTDataFromTemplateOperation::main()
{
    std::shared_ptr<KTTemplate> copy;
    KTTemplate *sender = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        copy = m_renderCopy;
        sender = m_theTemplate.get();
    }
    if (!copy || isCancelled() || m_size.width() < kMinimumSide || m_size.height() < kMinimumSide)
        return;

    // The blocks hear the design they were given, not the private copy.
    KTTemplate::ProgressBlock progress;
    if (m_progressBlock)
        progress = [this, sender](KTTemplate *, double p) { m_progressBlock(sender, p); };
    platform::Error error;
    KTTemplate::DataProvidedImage image = copy->newDataProvidedCGImageOfSize(
        m_size, progress, [this](KTTemplate *) { return isCancelled(); }, &error);
    if (isCancelled())
        return;
    std::optional<QByteArray> data;
    if (image)
        data = copy->newDataOfUti(m_uti, image, &error);
    image.reset();
    if (isCancelled())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_imageData = std::move(data);
        m_error = m_imageData ? platform::Error() : error;
    }
    // A render that failed is reported too: the caller must not wait for
    // an answer that never comes.
    if (m_finishedBlock)
        m_finishedBlock(this);
}
