#pragma once

// Moulding frames in a real library store: side and corner pictures drawn
// here, written as PNG files into the graphics folder, the frame saved to the
// SQLite file and fetched again from a fresh context on it.

#include "stores/Frame.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameImage.h"
#include "stores/FrameType.h"
#include "stores/LibraryTestSupport.h"
#include "support/ImagingTools.h"

#include <QColor>
#include <QFile>
#include <QImage>
#include <QMap>
#include <QPainter>
#include <QUuid>

#include <gtest/gtest.h>

namespace mouldingtest {

// A picture of one colour whose top quarter (as the file stands) is marked
// with another, so tiles and their orientation show in a drawing.
inline QImage markedPicture(int w, int h, QColor body, QColor mark)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(body);
    QPainter p(&image);
    p.fillRect(QRect(0, 0, w, std::max(1, h / 4)), mark);
    return image;
}

// A square picture of one colour with its top-left quarter marked.
inline QImage cornerPicture(int side, QColor body, QColor mark)
{
    QImage image(side, side, QImage::Format_ARGB32);
    image.fill(body);
    QPainter p(&image);
    p.fillRect(QRect(0, 0, side / 2, side / 2), mark);
    return image;
}

inline QString writePng(const QImage &image)
{
    const QString path = librarytest::freshFolder() + QStringLiteral("/picture.png");
    EXPECT_TRUE(image.save(path, "PNG"));
    return path;
}

// A library on its own SQLite file holding one frame.
struct FrameInStore {
    librarytest::Library lib;
    QString guid;

    // Builds the frame: type name, images by attribute, booleans by
    // attribute; an attribute mapped to a null picture gets a file that is
    // no picture at all.
    FrameInStore(const QString &typeName, const QMap<QString, QImage> &pictures, const QMap<QString, bool> &flags = {})
    {
        librarytest::sharedLibrary();
        platform::ManagedObjectContext *moc = lib.moc();
        FrameType *type = FrameType::insertInManagedObjectContext(moc);
        type->setName(typeName);
        Frame *frame = Frame::insertInManagedObjectContext(moc);
        frame->setName(QStringLiteral("Test ") + typeName);
        frame->setFrametype(type);
        for (auto it = pictures.begin(); it != pictures.end(); ++it) {
            QString path;
            if (it.value().isNull()) {
                path = librarytest::freshFolder() + QStringLiteral("/broken.png");
                QFile f(path);
                f.open(QIODevice::WriteOnly);
                f.write("this is not a picture");
            } else {
                path = writePng(it.value());
            }
            FrameImage *image = FrameImage::frameImageFromImageAtPath(path, moc);
            EXPECT_TRUE(image);
            FrameAttribute *attribute = frame->frameAttributeWithName(it.key());
            EXPECT_TRUE(attribute) << it.key().toStdString();
            if (attribute)
                attribute->setImageVal(image);
        }
        for (auto it = flags.begin(); it != flags.end(); ++it)
            frame->frameAttributeWithName(it.key())->setBoolVal(it.value());
        guid = frame->guid();
        EXPECT_TRUE(moc->save());
        // Read back through a fresh context on the same file.
        lib.open();
    }

    Frame *frame() { return Frame::frameWithGUID(guid, lib.moc()); }
};

// The pixel at y-up coordinates of a canvas.
inline QColor at(const QImage &image, double x, double y)
{
    return image.pixelColor(int(x), image.height() - 1 - int(y));
}

inline bool near(const QColor &a, const QColor &b, int tolerance = 8)
{
    return testsupport::near(a, b, tolerance);
}

} // namespace mouldingtest
