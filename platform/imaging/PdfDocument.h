#pragma once

#include <QByteArray>
#include <QImage>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <memory>
#include <mutex>

namespace Poppler {
class Document;
class Page;
} // namespace Poppler

namespace platform {

// The first page of a PDF file, kept as vectors and drawn at any size through
// poppler. Drawing is serialised: one document is never drawn by two threads
// at once.
class PdfDocument
{
public:
    // Null when the data is not a readable, unlocked PDF with at least one page.
    static std::shared_ptr<PdfDocument> fromData(const QByteArray &data);
    static std::shared_ptr<PdfDocument> fromFile(const QString &path);
    ~PdfDocument();

    int pageCount() const;
    // The first page's box in points as it is shown (its own /Rotate applied).
    QSizeF pageSize() const;
    // The page's own rotation, 0, 90, 180 or 270 degrees clockwise.
    int pageRotation() const;

    // Draws the first page turned clockwise by `degrees` more (a multiple of
    // 90) into a picture of `pixels`, stretched to fill it. `visible` is the
    // part of the turned page to draw, in fractions with the origin at the top
    // left; the default is the whole page. Transparent where the page is not
    // painted. Null on failure.
    QImage render(const QSize &pixels, int degrees, const QRectF &visible = QRectF(0, 0, 1, 1)) const;

private:
    PdfDocument() = default;
    QByteArray m_data;
    std::unique_ptr<Poppler::Document> m_document;
    std::unique_ptr<Poppler::Page> m_page;
    mutable std::mutex m_mutex;
};

} // namespace platform
