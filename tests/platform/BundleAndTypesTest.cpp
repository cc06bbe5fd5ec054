#include "platform/Bundle.h"
#include "platform/TypeTable.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QStandardPaths>

using namespace platform;

namespace {
// Sets KANTELO_RESOURCES for one test and puts it back.
struct ResourceFolder {
    QString saved = qEnvironmentVariable("KANTELO_RESOURCES");
    QString path;
    explicit ResourceFolder(const QString &p)
        : path(p)
    {
        QDir().mkpath(path);
        qputenv("KANTELO_RESOURCES", path.toUtf8());
    }
    ~ResourceFolder() { qputenv("KANTELO_RESOURCES", saved.toUtf8()); }
};

void touch(const QString &path, const QByteArray &bytes = "x")
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}
} // namespace

TEST(PlatformBundle, IdentityAndResources)
{
    EXPECT_EQ(Bundle::identifier(), "com.velmoorsoft.Kantelo3");
    EXPECT_EQ(Bundle::name(), "Kantelo");
    EXPECT_FALSE(Bundle::shortVersionString().isEmpty());
    EXPECT_FALSE(Bundle::version().isEmpty());

    ResourceFolder resources(testsupport::scratchDir() + "/resources");
    QDir().mkpath(resources.path + "/Templates/Plain.KTTemplate");
    touch(resources.path + "/InitialFrames.ktframes");
    EXPECT_EQ(Bundle::resourcePath(), resources.path);
    EXPECT_EQ(Bundle::pathForResource("InitialFrames", "ktframes"), resources.path + "/InitialFrames.ktframes");
    EXPECT_EQ(Bundle::pathForResource("InitialFrames.ktframes", QString()), resources.path + "/InitialFrames.ktframes");
    EXPECT_EQ(Bundle::pathForResource("Templates/Plain", "KTTemplate"), resources.path + "/Templates/Plain.KTTemplate");
    EXPECT_TRUE(Bundle::pathForResource("Missing", "png").isEmpty());
    EXPECT_TRUE(Bundle::pathForResource("../resources/InitialFrames", "ktframes").isEmpty());
    EXPECT_TRUE(Bundle::pathForResource(QString(), QString()).isEmpty());
}

TEST(PlatformBundle, SupportFolderIsMadeUnderTheDataHome)
{
    const QString folder = applicationSupportFolder();
    EXPECT_EQ(folder, QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Kantelo");
    EXPECT_TRUE(QDir(folder).exists());
}

TEST(PlatformTypeTable, ExtensionsMimeAndConformance)
{
    EXPECT_EQ(TypeTable::typeForExtension("JPG"), TypeTable::kJPEG);
    EXPECT_EQ(TypeTable::typeForExtension("jpeg"), TypeTable::kJPEG);
    EXPECT_EQ(TypeTable::typeForExtension("tif"), TypeTable::kTIFF);
    EXPECT_EQ(TypeTable::typeForExtension("psd"), TypeTable::kPSD);
    EXPECT_EQ(TypeTable::typeForExtension("ktframes"), TypeTable::kFrames);
    EXPECT_EQ(TypeTable::typeForExtension("kttemplate"), TypeTable::kTemplate);
    EXPECT_TRUE(TypeTable::typeForExtension("nope").isEmpty());
    EXPECT_TRUE(TypeTable::typeForExtension(QString()).isEmpty());

    EXPECT_EQ(TypeTable::preferredExtension(TypeTable::kJPEG), "jpg");
    EXPECT_EQ(TypeTable::preferredExtension(TypeTable::kTIFF), "tiff");
    EXPECT_EQ(TypeTable::preferredExtension(TypeTable::kPSD), "psd");
    EXPECT_EQ(TypeTable::preferredExtension(TypeTable::kTemplate), "KTTemplate");
    EXPECT_TRUE(TypeTable::extensions(TypeTable::kJPEG).contains("jpe"));
    EXPECT_EQ(TypeTable::mimeType(TypeTable::kPNG), "image/png");
    EXPECT_EQ(TypeTable::mimeType(TypeTable::kPDF), "application/pdf");

    EXPECT_TRUE(TypeTable::conformsTo(TypeTable::kJPEG, TypeTable::kImage));
    EXPECT_TRUE(TypeTable::conformsTo(TypeTable::kHEIC, TypeTable::kImage));
    EXPECT_TRUE(TypeTable::conformsTo(TypeTable::kPSD, "public.data"));
    EXPECT_TRUE(TypeTable::conformsTo(TypeTable::kPNG, TypeTable::kPNG));
    EXPECT_FALSE(TypeTable::conformsTo(TypeTable::kPDF, TypeTable::kImage));
    EXPECT_FALSE(TypeTable::conformsTo(TypeTable::kImage, TypeTable::kJPEG));
    EXPECT_FALSE(TypeTable::conformsTo(TypeTable::kTemplate, TypeTable::kImage));
    EXPECT_FALSE(TypeTable::conformsTo("com.example.unknown", TypeTable::kImage));
}

TEST(PlatformTypeTable, TypeOfRealFiles)
{
    const QString dir = testsupport::scratchDir() + "/types";
    QDir().mkpath(dir);
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(dir + "/no-extension", "PNG"));
    ASSERT_TRUE(image.save(dir + "/photo.JPG", "JPEG"));
    QDir().mkpath(dir + "/Design.KTTemplate");
    touch(dir + "/NotAPackage.KTTemplate");
    touch(dir + "/notes", "just words\n");

    EXPECT_EQ(TypeTable::typeForFile(dir + "/no-extension"), TypeTable::kPNG);
    EXPECT_EQ(TypeTable::typeForFile(dir + "/photo.JPG"), TypeTable::kJPEG);
    EXPECT_EQ(TypeTable::typeForFile(dir + "/Design.KTTemplate"), TypeTable::kTemplate);
    EXPECT_NE(TypeTable::typeForFile(dir + "/NotAPackage.KTTemplate"), TypeTable::kTemplate);
    EXPECT_EQ(TypeTable::typeForFile(dir), "public.folder");
    EXPECT_FALSE(TypeTable::conformsTo(TypeTable::typeForFile(dir + "/notes"), TypeTable::kImage));
    EXPECT_TRUE(TypeTable::typeForFile(dir + "/missing").isEmpty());
}

TEST(PlatformTypeTable, SafeFileNames)
{
    EXPECT_TRUE(isSafeFileName("Frame 1.png"));
    EXPECT_TRUE(isSafeFileName("..hidden"));
    EXPECT_TRUE(isSafeFileName("a..b"));
    EXPECT_FALSE(isSafeFileName(""));
    EXPECT_FALSE(isSafeFileName("."));
    EXPECT_FALSE(isSafeFileName(".."));
    EXPECT_FALSE(isSafeFileName("../etc"));
    EXPECT_FALSE(isSafeFileName("a/b"));
    EXPECT_FALSE(isSafeFileName("/abs"));
    EXPECT_FALSE(isSafeFileName(QString("a") + QChar(0) + "b"));
}

TEST(PlatformTypeTable, AccountFullNameMatchesThePasswordDatabase)
{
    const testsupport::ProgramRun python = testsupport::runProgram(
        testsupport::python3(), {"-c", "import os, pwd; e = pwd.getpwuid(os.getuid()); "
                                       "print(e.pw_gecos.split(',')[0].strip()); print(e.pw_name)"});
    ASSERT_TRUE(python.succeeded());
    const QStringList lines = QString::fromLocal8Bit(python.out).split('\n');
    ASSERT_GE(lines.size(), 2);
    const QString expected = lines.at(0).trimmed();
    EXPECT_EQ(accountFullName(), expected);
    // A "full name" that only repeats the login ("root") is no person's name.
    EXPECT_EQ(accountPersonName(), expected.compare(lines.at(1).trimmed(), Qt::CaseInsensitive) ? expected : QString());
}
