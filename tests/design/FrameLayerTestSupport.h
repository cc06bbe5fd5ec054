#pragma once

// Frames in a real library store for the frame layer tests: frame pictures
// drawn here and written as PNG files into the library's graphics folder,
// frame types and attributes as the library keeps them, saved to SQLite.

#include "design/KTFrameLayer.h"
#include "design/KTTemplate.h"
#include "platform/archive/Color.h"
#include "platform/archive/TypedStreamColor.h"
#include "platform/render/DrawingContext.h"
#include "stores/Frame.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameImage.h"
#include "stores/FrameType.h"
#include "stores/LibraryTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QImageWriter>
#include <QPainter>
#include <QUuid>

#include <gtest/gtest.h>

namespace frametest {

inline const QColor kFrameBrown(120, 70, 30);

// A frame picture: an opaque ring `border` of the short side wide round a
// transparent window.
inline QImage ringPicture(int w, int h, double border = 0.1, QColor color = kFrameBrown)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    const int b = int(std::min(w, h) * border);
    QPainter p(&image);
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.fillRect(QRect(b, b, w - 2 * b, h - 2 * b), Qt::transparent);
    return image;
}

inline QString writePng(const QImage &image, const QString &stem)
{
    const QString path = QDir(testsupport::scratchDir())
                             .filePath(stem + QUuid::createUuid().toString(QUuid::Id128) + QStringLiteral(".png"));
    QImageWriter writer(path);
    EXPECT_TRUE(writer.write(image)) << writer.errorString().toStdString();
    return path;
}

// A plain photo: one colour, written as PNG.
inline QString writePhoto(int w, int h, QColor color = QColor(40, 160, 60))
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(color);
    return writePng(image, QStringLiteral("photo"));
}

// The shared library's main context (a real SQLite store in the scratch
// folder), which the layers look their frames up in.
inline platform::ManagedObjectContext *libraryContext()
{
    return librarytest::sharedLibrary().managedObjectContext();
}

inline FrameType *frameType(const QString &name)
{
    return librarytest::frameTypeNamed(libraryContext(), name);
}

inline Frame *newFrame(const QString &typeName, const QString &name)
{
    Frame *frame = Frame::insertInManagedObjectContext(libraryContext());
    frame->setName(name);
    frame->setFrametype(frameType(typeName));
    return frame;
}

inline void setPicture(Frame *frame, const char *attribute, const QImage &picture)
{
    FrameImage *image = FrameImage::frameImageFromImageAtPath(writePng(picture, QStringLiteral("frame")), libraryContext());
    ASSERT_NE(image, nullptr);
    FrameAttribute *a = frame->frameAttributeWithName(QString::fromLatin1(attribute));
    ASSERT_NE(a, nullptr);
    a->setImageVal(image);
}

inline void setFlag(Frame *frame, const char *attribute, bool on)
{
    FrameAttribute *a = frame->frameAttributeWithName(QString::fromLatin1(attribute));
    ASSERT_NE(a, nullptr);
    a->setBoolVal(on);
}

inline void setColor(Frame *frame, const char *attribute, const QColor &color)
{
    FrameAttribute *a = frame->frameAttributeWithName(QString::fromLatin1(attribute));
    ASSERT_NE(a, nullptr);
    a->setColorVal(platform::typedStreamDataForColor(platform::Color::fromQColor(color)));
}

inline void saveLibrary()
{
    platform::Error error;
    ASSERT_TRUE(libraryContext()->save(&error)) << error.description.toStdString();
}

// Catches the warnings frame layers post while it lives.
struct WarningLog {
    QStringList messages;
    WarningLog()
    {
        KTFrameLayer::setWarningPoster([this](const QString &m) { messages << m; });
    }
    ~WarningLog() { KTFrameLayer::setWarningPoster(nullptr); }
};

inline std::shared_ptr<KTTemplate> designWithPhoto(const QString &path)
{
    auto design = std::make_shared<KTTemplate>();
    EXPECT_TRUE(design->importImage(QUrl::fromLocalFile(path)));
    return design;
}

// Draws the design into a canvas of w x h with the framed design fitted into
// `target` (y-up), at high quality.
inline QImage render(KTTemplate &design, int w, int h, QRectF target = QRectF())
{
    QImage canvas(w, h, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        platform::DrawingContext ctx(canvas);
        design.drawToRect(target.isEmpty() ? QRectF(0, 0, w, h) : target, true, true, nullptr, false);
    }
    return canvas;
}

// The pixel at y-up (x, y).
inline QColor at(const QImage &image, int x, int y)
{
    return image.pixelColor(x, image.height() - 1 - y);
}

} // namespace frametest
