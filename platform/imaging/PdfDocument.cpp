#include "platform/imaging/PdfDocument.h"

#include <poppler/qt6/poppler-qt6.h>

#include <QFile>

#include <cmath>

namespace platform {

PdfDocument::~PdfDocument() = default;

std::shared_ptr<PdfDocument> PdfDocument::fromData(const QByteArray &data)
{
    std::shared_ptr<PdfDocument> pdf(new PdfDocument);
    // Poppler keeps the bytes; hold a deep copy so a mapped file may go away.
    pdf->m_data = QByteArray(data.constData(), data.size());
    pdf->m_document = Poppler::Document::loadFromData(pdf->m_data);
    if (!pdf->m_document || pdf->m_document->isLocked() || pdf->m_document->numPages() < 1)
        return nullptr;
    pdf->m_page = pdf->m_document->page(0);
    if (!pdf->m_page)
        return nullptr;
    const QSizeF size = pdf->m_page->pageSizeF();
    if (!(size.width() > 0) || !(size.height() > 0))
        return nullptr;
    pdf->m_document->setPaperColor(Qt::transparent);
    pdf->m_document->setRenderHint(Poppler::Document::Antialiasing, true);
    pdf->m_document->setRenderHint(Poppler::Document::TextAntialiasing, true);
    pdf->m_document->setRenderHint(Poppler::Document::IgnorePaperColor, true);
    return pdf;
}

std::shared_ptr<PdfDocument> PdfDocument::fromFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    return fromData(file.readAll());
}

int PdfDocument::pageCount() const
{
    return m_document->numPages();
}

QSizeF PdfDocument::pageSize() const
{
    return m_page->pageSizeF();
}

int PdfDocument::pageRotation() const
{
    switch (m_page->orientation()) {
    case Poppler::Page::Landscape:
        return 90;
    case Poppler::Page::UpsideDown:
        return 180;
    case Poppler::Page::Seascape:
        return 270;
    default:
        return 0;
    }
}

QImage PdfDocument::render(const QSize &pixels, int degrees, const QRectF &visible) const
{
    if (pixels.isEmpty() || !(visible.width() > 0) || !(visible.height() > 0))
        return {};
    degrees = ((degrees % 360) + 360) % 360;
    const int turns = degrees / 90;
    QSizeF shown = pageSize();
    if (turns % 2)
        shown.transpose();
    // The whole turned page at the size that makes the visible part `pixels`.
    const double fullW = pixels.width() / visible.width();
    const double fullH = pixels.height() / visible.height();
    double xres = 72.0 * fullW / shown.width();
    double yres = 72.0 * fullH / shown.height();
    // Poppler takes its resolutions along the page's own axes.
    if (turns % 2)
        std::swap(xres, yres);
    const int x = int(std::lround(visible.x() * fullW));
    const int y = int(std::lround(visible.y() * fullH));
    std::lock_guard<std::mutex> lock(m_mutex);
    QImage image = m_page->renderToImage(xres, yres, x, y, pixels.width(), pixels.height(),
                                         static_cast<Poppler::Page::Rotation>(turns));
    if (image.isNull())
        return {};
    if (image.size() != pixels)
        image = image.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace platform
