#include "AppTestSupport.h"

#include "app/KTDocumentController.h"
#include "app/XSDocument.h"
#include "design/KTTemplate.h"
#include "platform/ui/FilePanels.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

using namespace platform;
using namespace apptest;

namespace {

QString run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(20000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// "WxH" of the file as ImageMagick reads it.
QString pixelSize(const QString &path)
{
    return run(QStringLiteral("identify"), {QStringLiteral("-format"), QStringLiteral("%wx%h"), path + "[0]"});
}

class SavingFixture : public ::testing::Test
{
protected:
    void SetUp() override { controller = KTDocumentController::sharedDocumentController(); }
    void TearDown() override
    {
        controller->closeAllDocuments();
        QCoreApplication::processEvents();
        setSavePanelPresenter(nullptr);
    }

    XSDocument *open(const QString &path)
    {
        XSDocument *opened = nullptr;
        bool done = false;
        controller->openDocumentWithContentsOfURL(QUrl::fromLocalFile(path), true,
                                                  [&](Document *doc, bool, const Error &) {
                                                      opened = qobject_cast<XSDocument *>(doc);
                                                      done = true;
                                                  });
        EXPECT_TRUE(testsupport::waitUntil([&] { return done; }));
        return opened;
    }

    KTDocumentController *controller = nullptr;
};

} // namespace

TEST_F(SavingFixture, RenderAndWriteProducesTheFileAtTheSizeAndRefusesWhatItCannotWrite)
{
    const QString dir = freshDir();
    XSDocument *doc = open(writePhoto(dir, QStringLiteral("photo.jpg"), QSize(600, 400)));
    ASSERT_TRUE(doc);

    Error error;
    const QString out = dir + "/out.png";
    ASSERT_TRUE(doc->renderAndWrite(QUrl::fromLocalFile(out), "public.png", QSize(300, 200), 0.5, &error))
        << error.description.toStdString();
    EXPECT_EQ(pixelSize(out), "300x200");

    // An empty size and a folder that is not there write nothing and say why.
    EXPECT_FALSE(doc->renderAndWrite(QUrl::fromLocalFile(dir + "/empty.png"), "public.png", QSize(0, 10), 0.5, &error));
    EXPECT_FALSE(error.description.isEmpty());
    error = Error{};
    EXPECT_FALSE(doc->renderAndWrite(QUrl::fromLocalFile(dir + "/missing/out.jpg"), "public.jpeg", QSize(30, 20), 0.5,
                                     &error));
    EXPECT_FALSE(error.description.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(dir + "/missing/out.jpg"));
}
