#include "design/KTProgressReportingDataProvider.h"

#include <utility>

KTProgressReportingDataProvider::KTProgressReportingDataProvider(QImage bitmap, KTTemplate *owner,
                                                                 ProgressBlock progress, CancelBlock cancel)
    : m_bitmap(std::move(bitmap))
    , m_size(qint64(m_bitmap.width()) * m_bitmap.height() * 4)
    , m_owner(owner)
    , m_progress(std::move(progress))
    , m_cancel(std::move(cancel))
{
}

bool KTProgressReportingDataProvider::getBytesAtPosition(qint64 position, qint64 count)
{
    if (m_cancel && m_cancel(m_owner))
        return false;
    if (m_progress && m_size > 0)
        m_progress(m_owner, double(position + count) / double(m_size) * 100.0);
    return true;
}

bool KTProgressReportingDataProvider::readRows(qint64 rowsRead, qint64 rowsInAll)
{
    if (rowsInAll <= 0)
        return true;
    // Rows as the byte range they would span in the provider.
    const qint64 end = rowsRead >= rowsInAll ? m_size : qint64(double(m_size) * double(rowsRead) / double(rowsInAll));
    const qint64 step = rowsInAll > 0 ? m_size / rowsInAll : 0;
    const qint64 start = end - step > 0 ? end - step : 0;
    return getBytesAtPosition(start, end - start);
}

std::shared_ptr<KTProgressReportingDataProvider>
KTCreateProgressReportingDataProvider(QImage context, KTTemplate *owner,
                                      KTProgressReportingDataProvider::ProgressBlock progress,
                                      KTProgressReportingDataProvider::CancelBlock cancel)
{
    if (context.isNull())
        return nullptr;
    return std::make_shared<KTProgressReportingDataProvider>(std::move(context), owner, std::move(progress),
                                                             std::move(cancel));
}
