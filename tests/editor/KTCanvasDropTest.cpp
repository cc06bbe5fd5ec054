#include "EditorTestLayers.h"

#include "app/KTDesignDocumentInterface.h"
#include "platform/Alert.h"
#include "platform/TemporaryFolders.h"
#include "platform/ui/WindowController.h"

#include <QMimeData>

#include <gtest/gtest.h>

namespace {

// A document that takes what the canvas hands it.
class DropDocument : public QObject, public KTDesignDocumentInterface
{
public:
    std::shared_ptr<KTTemplate> design;
    QList<QUrl> imported;
    std::shared_ptr<KTTemplate> replacedWith;
    std::shared_ptr<KTTemplate> docTemplate() const override { return design; }
    bool importImage(const QUrl &url) override
    {
        imported.append(url);
        return design->importImage(url);
    }
    void replaceTemplateWith(const std::shared_ptr<KTTemplate> &other) override { replacedWith = other; }
    void windowControllerDidLoadNib(platform::WindowController *) override {}
    QUrl writeFramedPictureFile(const QSizeF &, int, platform::Error *) override
    {
        pauseShownWhileWriting = view && view->isPauseShown();
        return QUrl::fromLocalFile(QStringLiteral("/tmp/framed.jpg"));
    }
    KTDesignView *view = nullptr;
    bool pauseShownWhileWriting = false;
};

struct DropCanvas {
    DropDocument document;
    platform::WindowController window;
    std::unique_ptr<KTDesignViewController> controller;
    QStringList alerts;

    DropCanvas()
    {
        document.design = std::make_shared<KTTemplate>();
        document.design->importImage(QUrl::fromLocalFile(editortest::writePhoto(QStringLiteral("drop-photo.png"))));
        window.setDocument(&document);
        controller = std::make_unique<KTDesignViewController>(QString::fromLatin1(KTDesignViewController::kNibName),
                                                              &window);
        controller->setViewState(std::make_shared<KTViewState>());
        controller->setDocTemplate(document.design);
        platform::setAlertPresenter([this](const platform::AlertRequest &r) {
            alerts.append(r.messageText);
            return 0;
        });
    }
    ~DropCanvas() { platform::setAlertPresenter(nullptr); }
    KTDesignView *view() const { return controller->designView(); }
};

QMimeData *filesMime(const QString &path)
{
    auto *mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(path)});
    return mime;
}

} // namespace

TEST(KTCanvasDrop, PackagesImageFilesAndImageDataAreTakenAndOtherDragsRefused)
{
    DropCanvas canvas;
    const QString photo = editortest::writePhoto(QStringLiteral("dropped.png"));
    std::unique_ptr<QMimeData> file(filesMime(photo));
    EXPECT_TRUE(canvas.view()->canAcceptDrop(file.get(), false));
    EXPECT_FALSE(canvas.view()->canAcceptDrop(file.get(), true)); // from inside the program
    EXPECT_TRUE(canvas.view()->performDrop(file.get()));
    ASSERT_EQ(canvas.document.imported.size(), 1);
    EXPECT_EQ(canvas.document.imported.first().toLocalFile(), photo);

    // A design package replaces the design.
    auto saved = std::make_shared<KTTemplate>();
    saved->setShadowAngle(45);
    const QString package = QDir(testsupport::scratchDir())
                                .filePath(QStringLiteral("Dropped.") + QString::fromLatin1(KTTemplate::kPackageExtension));
    ASSERT_TRUE(saved->saveToURL(QUrl::fromLocalFile(package), {}, QString(), false));
    std::unique_ptr<QMimeData> packageMime(filesMime(package));
    EXPECT_TRUE(canvas.view()->canAcceptDrop(packageMime.get(), false));
    EXPECT_TRUE(canvas.view()->performDrop(packageMime.get()));
    ASSERT_TRUE(canvas.document.replacedWith);
    EXPECT_DOUBLE_EQ(canvas.document.replacedWith->shadowAngle(), 45);

    // Picture data without a file becomes a file of its own, read and removed.
    QMimeData data;
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    data.setImageData(picture);
    EXPECT_TRUE(canvas.view()->canAcceptDrop(&data, false));
    EXPECT_TRUE(canvas.view()->performDrop(&data));
    ASSERT_EQ(canvas.document.imported.size(), 2);
    EXPECT_EQ(canvas.document.design->originalImageSize(), QSizeF(40, 30));
    const QFileInfo dropped(canvas.document.imported.last().toLocalFile());
    EXPECT_FALSE(dropped.exists());
    EXPECT_TRUE(dropped.absolutePath().startsWith(platform::TemporaryFolders::rootPath()));

    // A text file is no picture; a drop with nothing usable tells the user.
    const QString text = QDir(testsupport::scratchDir()).filePath(QStringLiteral("notes.txt"));
    QFile notes(text);
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("not a picture");
    notes.close();
    std::unique_ptr<QMimeData> textMime(filesMime(text));
    EXPECT_FALSE(canvas.view()->canAcceptDrop(textMime.get(), false));
    QMimeData empty;
    empty.setText(QStringLiteral("https://example.com/picture"));
    EXPECT_FALSE(canvas.view()->performDrop(&empty));
    EXPECT_EQ(canvas.alerts, QStringList{QStringLiteral("Paste Error")});

    // Nothing is taken while the design draws.
    canvas.document.design->setIsDrawing(true);
    EXPECT_FALSE(canvas.view()->canAcceptDrop(file.get(), false));
    EXPECT_FALSE(canvas.view()->performDrop(file.get()));
    canvas.document.design->setIsDrawing(false);
    EXPECT_EQ(canvas.document.imported.size(), 2);
}

TEST(KTCanvasDrop, TheDragOutFileIsWrittenBehindTheBusyOverlay)
{
    DropCanvas canvas;
    canvas.document.view = canvas.view();
    canvas.view()->resize(400, 300);
    canvas.view()->show();
    EXPECT_EQ(canvas.view()->prepareDragOut(), QUrl::fromLocalFile(QStringLiteral("/tmp/framed.jpg")));
    EXPECT_TRUE(canvas.document.pauseShownWhileWriting);
    EXPECT_FALSE(canvas.view()->isPauseShown());
}

TEST(KTCanvasDrop, TheDragShowsTheDesignAloneInASquareOf128)
{
    DropCanvas canvas;
    canvas.view()->resize(400, 300);
    canvas.view()->show();
    const QImage shown = canvas.view()->dragOutPixmap().toImage();
    ASSERT_EQ(shown.size(), QSize(128, 128));
    // The 3:2 photo fills the width; above and below it nothing is drawn,
    // neither the canvas's backdrop nor its layer strip.
    EXPECT_EQ(qAlpha(shown.pixel(64, 2)), 0);
    EXPECT_EQ(qAlpha(shown.pixel(64, 125)), 0);
    const QRgb middle = shown.pixel(64, 64);
    EXPECT_EQ(qAlpha(middle), 255);
    EXPECT_NEAR(qGreen(middle), 90, 3);
    EXPECT_FALSE(canvas.document.design->exportMode());
}
