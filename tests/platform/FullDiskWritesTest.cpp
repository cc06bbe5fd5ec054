#include "platform/FileWrapper.h"
#include "platform/archive/PropertyList.h"
#include "platform/codec/ExportMetadata.h"
#include "platform/codec/ImageEncoder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QUuid>

#include <csignal>
#include <optional>
#include <sys/resource.h>

using namespace platform;

namespace {

// While it lives, no file of this process may grow past `bytes`: a write
// fails part-way as on a full disk, whoever runs the test.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    struct rlimit m_saved;
    void (*m_handler)(int) = nullptr;
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// Qt's save file answers true at commit after a buffered write failed; the
// writers must not take that for success, nor replace the old file.
TEST(FullDiskWrites, AFailedWriteKeepsTheOldFileAndSaysSo)
{
    const QString dir = testsupport::scratchDir() + '/' + QUuid::createUuid().toString(QUuid::Id128);
    QDir().mkpath(dir);
    const QByteArray old(100, 'o');
    const QStringList names = {"picture.png", "list.plist", "wrapped.bin"};
    for (const QString &name : names) {
        QFile file(dir + '/' + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(old);
    }

    QImage noise(64, 64, QImage::Format_ARGB32);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, qRgba((x * 37) ^ (y * 11), x * y, y * 53, 255));
    QVariantMap list;
    for (int i = 0; i < 200; ++i)
        list.insert(QStringLiteral("key%1").arg(i), QStringLiteral("a value long enough %1").arg(i));

    Error imageError;
    Error listError;
    Error wrapperError;
    bool image = true, plist = true, wrapper = true;
    {
        FileSizeLimit limit(256);
        image = ImageEncoder::writeToFile(dir + "/picture.png", noise, "public.png", ExportMetadata(), std::nullopt,
                                          &imageError);
        plist = PropertyList::writeFile(dir + "/list.plist", list, PropertyList::Format::XML, &listError);
        wrapper = FileWrapper::regularFile(QByteArray(4000, 'n')).writeToPath(dir + "/wrapped.bin", &wrapperError);
    }
    EXPECT_FALSE(image);
    EXPECT_FALSE(imageError.description.isEmpty());
    EXPECT_FALSE(plist);
    EXPECT_FALSE(wrapper);
    for (const QString &name : names)
        EXPECT_EQ(readAll(dir + '/' + name), old) << name.toStdString();
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), names.size()) << "no leftovers";
}

// A disk that fills while a TIFF's strips are written and has room again by
// its end: the file is whole or not written, never written with its strips
// over its header.
TEST(FullDiskWrites, ATiffWhoseDiskFillsAndEmptiesAgainIsWholeOrNotWritten)
{
    const QString dir = testsupport::scratchDir() + '/' + QUuid::createUuid().toString(QUuid::Id128);
    QDir().mkpath(dir);
    QImage gradient(2000, 1000, QImage::Format_RGB32);
    for (int y = 0; y < gradient.height(); ++y)
        for (int x = 0; x < gradient.width(); ++x)
            gradient.setPixel(x, y, qRgb(x % 256, (x * 7 + y * 13) % 256, (x * y) % 251));
    std::optional<FileSizeLimit> full(std::in_place, 30000);
    Error error;
    const bool written = ImageEncoder::writeToFile(dir + "/picture.tiff", gradient, "public.tiff", ExportMetadata(),
                                                   std::nullopt, &error, [&](qint64 rows, qint64 total) {
                                                       if (rows > total / 2)
                                                           full.reset();
                                                       return true;
                                                   });
    full.reset();
    if (written) {
        EXPECT_EQ(QImage(dir + "/picture.tiff").convertToFormat(QImage::Format_RGB32), gradient);
    } else {
        EXPECT_TRUE(error.description.startsWith("Couldn't write")) << qPrintable(error.description);
        EXPECT_TRUE(QDir(dir).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }
}

// A Photoshop file's channels wait in a temporary file: a full temporary
// folder is told as such, not as "Unknown error".
TEST(FullDiskWrites, APhotoshopFileWhoseTemporaryFolderFillsSaysSo)
{
    const QString dir = testsupport::scratchDir() + '/' + QUuid::createUuid().toString(QUuid::Id128);
    QDir().mkpath(dir);
    QImage noise(300, 200, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, qRgb((x * 37) ^ (y * 11), x * y, y * 53));
    PictureBands bands;
    bands.size = noise.size();
    bands.rows = 16;
    bands.band = [&](int first, int count) { return noise.copy(0, first, noise.width(), count); };
    Error error;
    bool written = true;
    {
        FileSizeLimit limit(20000);
        written = ImageEncoder::writeBandsToFile(dir + "/picture.psd", bands, "com.adobe.photoshop-image",
                                                 ExportMetadata(), std::nullopt, &error);
    }
    EXPECT_FALSE(written);
    EXPECT_TRUE(error.description.contains("temporary folder")) << qPrintable(error.description);
    EXPECT_TRUE(error.description.contains("is full")) << qPrintable(error.description);
    EXPECT_TRUE(QDir(dir).entryList(QDir::Files | QDir::Hidden).isEmpty());
}
