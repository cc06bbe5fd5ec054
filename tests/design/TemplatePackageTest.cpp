#include "design/KTImageLayer.h"
#include "design/KTTemplate.h"
#include "design/VLImage.h"
#include "platform/Alert.h"
#include "platform/FileWrapper.h"
#include "platform/archive/Unarchiver.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QUuid>

#include <sys/wait.h>
#include <unistd.h>

namespace {

QString freshFolder()
{
    const QString path = testsupport::scratchDir() + QStringLiteral("/pkg-") + QUuid::createUuid().toString(QUuid::Id128);
    QDir().mkpath(path);
    return path;
}

QString writePhoto(const QString &folder, const QString &name = QStringLiteral("holiday.jpg"))
{
    QImage photo(300, 200, QImage::Format_RGB32);
    // Detail, so that the two compression factors give different files.
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x)
            photo.setPixel(x, y, qRgb((x * 7 + y * 13) % 256, (x * y) % 256, (x ^ y) & 0xff));
    const QString path = folder + QLatin1Char('/') + name;
    EXPECT_TRUE(photo.save(path, "JPEG", 90));
    return path;
}

std::shared_ptr<KTTemplate> designWithPhoto(const QString &photoPath)
{
    auto design = std::make_shared<KTTemplate>();
    EXPECT_TRUE(design->importImage(QUrl::fromLocalFile(photoPath)));
    design->setName(QStringLiteral("Holiday"));
    return design;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Answers every alert with its first button and remembers the texts.
struct AlertRecorder {
    AlertRecorder()
    {
        platform::setAlertPresenter([this](const platform::AlertRequest &r) {
            shown.append(r.messageText);
            return 0;
        });
    }
    ~AlertRecorder() { platform::setAlertPresenter(nullptr); }
    QStringList shown;
};

} // namespace

TEST(TemplatePackage, SavedWithPhotoKeywordsGuidAndPreviewsReadsBack)
{
    const QString folder = freshFolder();
    const QString photoPath = writePhoto(folder);
    auto design = designWithPhoto(photoPath);
    design->imageLayer()->setCropLeft(0.25);
    const QString packagePath = folder + QStringLiteral("/Holiday.KTTemplate");

    ASSERT_TRUE(design->saveToURL(QUrl::fromLocalFile(packagePath), {QStringLiteral("Sea"), QStringLiteral("Sun")},
                                  QStringLiteral("GUID-HOLIDAY-1"), true));

    // On disk: the entries, the photo copied byte for byte, the GUID as plain text.
    EXPECT_TRUE(QFileInfo(packagePath).isDir());
    EXPECT_EQ(readAll(packagePath + QStringLiteral("/Image/holiday.jpg")), readAll(photoPath));
    EXPECT_EQ(readAll(packagePath + QStringLiteral("/GUID")), QByteArray("GUID-HOLIDAY-1"));
    const auto keywords = platform::Unarchiver::unarchiveObjectWithData(readAll(packagePath + QStringLiteral("/Keywords")));
    ASSERT_TRUE(keywords.ok());
    EXPECT_EQ(keywords.object.toStringList(), (QStringList{"Sea", "Sun"}));
    EXPECT_FALSE(KTTemplate::templateFromData(readAll(packagePath + QStringLiteral("/Template")), nullptr) == nullptr);

    // The previews are real JPEGs whose larger side is 512; the thumbnail is
    // the more compressed of the two.
    for (const char *name : {"Preview.jpg", "Thumbnail.jpg"}) {
        QImageReader reader(packagePath + QStringLiteral("/QuickLook/") + QLatin1String(name));
        EXPECT_EQ(reader.format(), QByteArray("jpeg"));
        const QSize size = reader.size();
        EXPECT_EQ(std::max(size.width(), size.height()), 512) << name;
    }
    EXPECT_LT(QFileInfo(packagePath + QStringLiteral("/QuickLook/Thumbnail.jpg")).size(),
              QFileInfo(packagePath + QStringLiteral("/QuickLook/Preview.jpg")).size());
    const testsupport::ProgramRun identify =
        testsupport::runProgram(QStringLiteral("identify"), {QStringLiteral("-format"), QStringLiteral("%m %w %h"),
                                                             packagePath + QStringLiteral("/QuickLook/Preview.jpg")});
    if (identify.succeeded()) {
        const QList<QByteArray> seen = identify.out.trimmed().split(' ');
        ASSERT_EQ(seen.size(), 3);
        EXPECT_EQ(seen[0], QByteArray("JPEG"));
        EXPECT_EQ(std::max(seen[1].toInt(), seen[2].toInt()), 512);
    }

    // Read back.
    const QUrl url = QUrl::fromLocalFile(packagePath);
    EXPECT_TRUE(KTTemplate::isTemplateAtURL(url));
    EXPECT_EQ(KTTemplate::imageFilePathInPackage(url), QFileInfo(packagePath + QStringLiteral("/Image/holiday.jpg")).absoluteFilePath());
    const auto wrapper = KTTemplate::fileWrapperForURL(url);
    ASSERT_TRUE(wrapper);
    QStringList tags{QStringLiteral("untouched")};
    auto back = KTTemplate::templateFromFileWrapper(*wrapper, nullptr, &tags);
    ASSERT_TRUE(back);
    EXPECT_EQ(tags, (QStringList{"Sea", "Sun"}));
    EXPECT_EQ(back->variationGUID(), QStringLiteral("GUID-HOLIDAY-1"));
    EXPECT_EQ(back->name(), QStringLiteral("Holiday"));
    ASSERT_TRUE(back->imageLayer());
    EXPECT_EQ(back->imageLayer()->cropLeft(), double(0.25f));
}

TEST(TemplatePackage, WithoutPhotoTagsOrGuidOnlyTheTemplateAndPreviews)
{
    const QString folder = freshFolder();
    const QString photoPath = writePhoto(folder);
    auto design = designWithPhoto(photoPath);
    const QString packagePath = folder + QStringLiteral("/Plain.KTTemplate");

    // Asked for the photo, but its file is gone: no "Image".
    QFile::remove(photoPath);
    ASSERT_TRUE(design->saveToURL(QUrl::fromLocalFile(packagePath), {}, QString(), true));
    EXPECT_EQ(QDir(packagePath).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name),
              (QStringList{"QuickLook", "Template"}));
    EXPECT_EQ(KTTemplate::imageFilePathInPackage(QUrl::fromLocalFile(packagePath)), QString());

    QStringList tags{QStringLiteral("untouched")};
    auto back = KTTemplate::templateFromFileWrapper(*KTTemplate::fileWrapperForURL(QUrl::fromLocalFile(packagePath)),
                                                    nullptr, &tags);
    ASSERT_TRUE(back);
    EXPECT_EQ(tags, QStringList{"untouched"});
    EXPECT_TRUE(back->variationGUID().isEmpty());

    // A bare archive file opens like a package, with neither tags nor GUID.
    const QString bare = folder + QStringLiteral("/bare.template");
    QFile f(bare);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(design->dataForArchiving());
    f.close();
    back =
        KTTemplate::templateFromFileWrapper(*KTTemplate::fileWrapperForURL(QUrl::fromLocalFile(bare)), nullptr, &tags);
    ASSERT_TRUE(back);
    EXPECT_EQ(tags, QStringList{"untouched"});
    EXPECT_TRUE(back->variationGUID().isEmpty());
    EXPECT_FALSE(KTTemplate::isTemplateAtURL(QUrl::fromLocalFile(bare)));
}

TEST(TemplatePackage, ReplacingIsAtomicAndAFailedWriteIsShown)
{
    const QString folder = freshFolder();
    auto design = designWithPhoto(writePhoto(folder));
    const QString packagePath = folder + QStringLiteral("/Keep.KTTemplate");
    const QUrl url = QUrl::fromLocalFile(packagePath);
    ASSERT_TRUE(design->saveToURL(url, {QStringLiteral("Old")}, QStringLiteral("G1"), false));
    ASSERT_TRUE(design->saveToURL(url, {}, QStringLiteral("G2"), false));
    // The second save replaced the whole package: no stale keywords, no staging leftovers.
    EXPECT_FALSE(QFileInfo::exists(packagePath + QStringLiteral("/Keywords")));
    EXPECT_EQ(readAll(packagePath + QStringLiteral("/GUID")), QByteArray("G2"));
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
              (QStringList{"Keep.KTTemplate", "holiday.jpg"}));

    // A folder that can't be written: an alert, false, the old package intact.
    if (::geteuid() != 0) {
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        AlertRecorder alerts;
        EXPECT_FALSE(design->saveToURL(url, {}, QStringLiteral("G3"), false));
        EXPECT_EQ(alerts.shown.size(), 1);
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        EXPECT_EQ(readAll(packagePath + QStringLiteral("/GUID")), QByteArray("G2"));
    }
    // A destination under a plain file can't be made either.
    AlertRecorder alerts;
    EXPECT_FALSE(design->saveToURL(QUrl::fromLocalFile(folder + QStringLiteral("/holiday.jpg/x.KTTemplate")), {}, {}, false));
    EXPECT_EQ(alerts.shown.size(), 1);
}

// The longest names a folder holds save and replace like any other.
TEST(TemplatePackage, PackagesAndFilesOfTheLongestNamesAreSavedAndReplaced)
{
    const QString folder = freshFolder();
    auto design = designWithPhoto(writePhoto(folder));
    const QUrl url = QUrl::fromLocalFile(folder + '/' + QString(255 - 11, QLatin1Char('k')) + ".KTTemplate");
    AlertRecorder alerts;
    ASSERT_TRUE(design->saveToURL(url, {}, QStringLiteral("G1"), false)) << alerts.shown.join(' ').toStdString();
    EXPECT_TRUE(design->saveToURL(url, {}, QStringLiteral("G2"), false)) << alerts.shown.join(' ').toStdString();
    EXPECT_EQ(readAll(url.toLocalFile() + QStringLiteral("/GUID")), QByteArray("G2"));
    const QString file = folder + '/' + QString(255, QLatin1Char('f'));
    for (const char *contents : {"one", "two"})
        EXPECT_TRUE(platform::FileWrapper::regularFile(contents).writeToPath(file));
    EXPECT_EQ(readAll(file), QByteArray("two"));
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 3);
}

// A save killed midway leaves its hidden staging folder; the next save of
// that package removes it, and nothing else of the folder's.
TEST(TemplatePackage, ASaveRemovesStagingFoldersKilledSavesLeft)
{
    const QString folder = freshFolder();
    auto design = designWithPhoto(writePhoto(folder));
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ASSERT_GT(gone, 0);
    ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
    const QString dead = QString::number(gone);
    const QString live = QString::number(::getpid());
    const QStringList kept{".Keep.KTTemplate." + live + "-aaaaaa", ".Keep.KTTemplate.old.bbbbbb",
                           ".Other.KTTemplate." + dead + "-cccccc", ".Keep.KTTemplate." + dead + "-lnkxyz"};
    for (const QString &name : {".Keep.KTTemplate." + dead + "-dddddd", kept[0], kept[1], kept[2]})
        ASSERT_TRUE(QDir().mkpath(folder + "/" + name + "/Image"));
    ASSERT_TRUE(QFile::link(folder + "/" + kept[2], folder + "/" + kept[3]));
    ASSERT_TRUE(design->saveToURL(QUrl::fromLocalFile(folder + "/Keep.KTTemplate"), {}, {}, false));
    QStringList left = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    QStringList expected = kept + QStringList{"Keep.KTTemplate", "holiday.jpg"};
    left.sort();
    expected.sort();
    EXPECT_EQ(left, expected);
    EXPECT_TRUE(QFileInfo::exists(folder + "/" + kept[3] + "/Image"));
}

TEST(TemplatePackage, DamagedPackagesGiveNoDesignOrLoseOnlyTheirKeywords)
{
    auto design = std::make_shared<KTTemplate>();
    design->insertLayer(std::make_shared<KTImageLayer>(), 0);
    const QByteArray archive = design->dataForArchiving();

    platform::FileWrapper noTemplate = platform::FileWrapper::directory();
    noTemplate.addRegularFile(QStringLiteral("GUID"), "G");
    EXPECT_FALSE(KTTemplate::templateFromFileWrapper(noTemplate, nullptr));

    platform::FileWrapper templateIsFolder = platform::FileWrapper::directory();
    templateIsFolder.addFileWrapper(QStringLiteral("Template"), platform::FileWrapper::directory());
    EXPECT_FALSE(KTTemplate::templateFromFileWrapper(templateIsFolder, nullptr));

    platform::FileWrapper garbage = platform::FileWrapper::directory();
    garbage.addRegularFile(QStringLiteral("Template"), "bplist00 and then nothing sensible");
    EXPECT_FALSE(KTTemplate::templateFromFileWrapper(garbage, nullptr));

    platform::FileWrapper badKeywords = platform::FileWrapper::directory();
    badKeywords.addRegularFile(QStringLiteral("Template"), archive);
    badKeywords.addRegularFile(QStringLiteral("Keywords"), "\x04\x0bstreamtyped garbage");
    badKeywords.addRegularFile(QStringLiteral("GUID"), " G-7\n");
    QStringList tags{QStringLiteral("untouched")};
    auto back = KTTemplate::templateFromFileWrapper(badKeywords, nullptr, &tags);
    ASSERT_TRUE(back);
    EXPECT_EQ(tags, QStringList{"untouched"});
    EXPECT_EQ(back->variationGUID(), QStringLiteral("G-7"));

    EXPECT_FALSE(KTTemplate::fileWrapperForURL(QUrl::fromLocalFile(freshFolder() + QStringLiteral("/missing.KTTemplate"))));
}

TEST(TemplatePackageFileWrapper, ReadingLeavesOutLinksAndRefusesRunawayFolders)
{
    const QString folder = freshFolder();
    const QString package = folder + QStringLiteral("/p.KTTemplate");
    QDir().mkpath(package + QStringLiteral("/Image"));
    QFile::link(QStringLiteral("/etc/passwd"), package + QStringLiteral("/Image/passwd.jpg"));
    QFile f(package + QStringLiteral("/Template"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("x");
    f.close();
    auto wrapper = platform::FileWrapper::readFromPath(package);
    ASSERT_TRUE(wrapper);
    EXPECT_EQ(wrapper->entry(QStringLiteral("Image"))->entryNames(), QStringList());
    EXPECT_EQ(KTTemplate::imageFilePathInPackage(QUrl::fromLocalFile(package)), QString());

    QString deep = folder + QStringLiteral("/deep");
    for (int i = 0; i <= platform::FileWrapper::kMaxDepth; ++i)
        deep += QStringLiteral("/d");
    QDir().mkpath(deep);
    platform::Error error;
    EXPECT_FALSE(platform::FileWrapper::readFromPath(folder + QStringLiteral("/deep"), &error));
    EXPECT_FALSE(error.description.isEmpty());

    // Unsafe entry names are never written.
    platform::FileWrapper evil = platform::FileWrapper::directory();
    evil.addRegularFile(QStringLiteral(".."), "x");
    EXPECT_FALSE(evil.writeToPath(folder + QStringLiteral("/evil")));
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/evil")));
}
