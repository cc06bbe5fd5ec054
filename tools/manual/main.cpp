// Builds the user manual "Kantelo_Manual.pdf" from its Markdown text and
// pictures the program draws of itself: a real first start in a private
// profile, windows drawn offscreen and framed examples.
//   kantelo-manual MANUAL.md OUTPUT.pdf KANTELO   (KANTELO_RESOURCES: the built
//   resources; KANTELO: the program, whose --help the text quotes)

#include "app/AppDelegate.h"
#include "app/KTDocumentController.h"
#include "app/KTLayersPaletteInterface.h"
#include "app/KTMainLayoutViewController.h"
#include "app/KTMainMenu.h"
#include "app/KTMainSplitViewController.h"
#include "app/KTPanelManagerViewController.h"
#include "app/KTPreferencesController.h"
#include "app/KTWelcomeWindow.h"
#include "app/XSDocument.h"
#include "app/XSDocumentWindowController.h"
#include "batch/ui/KTBatchProcessingConfigurationController.h"
#include "batch/ui/KTBatchProcessingWindowController.h"
#include "design/KTFrameLayer.h"
#include "design/KTTemplate.h"
#include "design/KTTextOverlayLayer.h"
#include "design/Variation.h"
#include "frameeditor/KTFEWindowController.h"
#include "kit/VLKitUtils.h"
#include "library/KTLibraryViewController.h"
#include "platform/Alert.h"
#include "platform/Bundle.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "platform/ui/Application.h"
#include "platform/ui/FilePanels.h"
#include "programs/kantelo/WindowControllers.h"
#include "stores/Frame.h"
#include "stores/FrameSet.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTimer>

#include <cstdio>
#include <algorithm>
#include <functional>

namespace {

// Lets queued work, timers and the canvas's high-quality redraw run.
void settle(int milliseconds = 400)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        settle(20);
    }
    return true;
}

// The pictures the text names, by file name.
class Pictures
{
public:
    void add(const QString &name, const QImage &image)
    {
        if (image.isNull())
            std::fprintf(stderr, "kantelo-manual: no picture for %s\n", qPrintable(name));
        else
            m_images.insert(name, image);
    }
    // A tall panel is cut to its top `height` pixels, where its controls are.
    void addWindow(const QString &name, QWidget *window, int height = 0)
    {
        if (!window) {
            add(name, {});
            return;
        }
        settle();
        const QImage grabbed = window->grab().toImage();
        add(name, height > 0 ? grabbed.copy(0, 0, grabbed.width(), std::min(height, grabbed.height())) : grabbed);
    }
    const QHash<QString, QImage> &images() const { return m_images; }

private:
    QHash<QString, QImage> m_images;
};

// The design on a white page, as a print would show it.
QImage framedExample(KTTemplate &design, double width)
{
    const QSizeF full = design.sizeFromOriginalWithOuterShadow(true);
    if (full.width() <= 0)
        return {};
    const QSizeF size = full * (width / full.width());
    const QImage drawn = design.imageWithSize(size);
    QImage page(drawn.size(), QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter(&page).drawImage(0, 0, drawn);
    return page;
}

XSDocument *openPhoto(const QString &path)
{
    XSDocument *opened = nullptr;
    bool done = false;
    KTDocumentController::sharedDocumentController()->openDocumentWithContentsOfURL(
        QUrl::fromLocalFile(path), true, [&](platform::Document *doc, bool, const platform::Error &) {
            opened = qobject_cast<XSDocument *>(doc);
            done = true;
        });
    waitFor([&] { return done; }, 30000);
    return opened;
}

void drawProgram(AppDelegate &delegate, const QString &work, Pictures &pictures)
{
    platform::ManagedObjectContext *templates = delegate.templatesManagedObjectContext();
    // The built-in designs come in after the frames.
    waitFor([&] { return Variation::variationWithName(QStringLiteral("Museum Gold"), templates) != nullptr; }, 60000);
    pictures.addWindow(QStringLiteral("welcome-window.png"),
                       delegate.welcomeWindow() ? delegate.welcomeWindow()->window() : nullptr);
    if (delegate.welcomeWindow())
        delegate.welcomeWindow()->window()->close();

    const QString folder = work + QStringLiteral("/Pictures");
    QDir().mkpath(folder);
    const QString photo = folder + QStringLiteral("/Lakeside.jpg");
    QFile::copy(platform::Bundle::pathForResource(QStringLiteral("Startup_image"), QStringLiteral("jpg")), photo);
    XSDocument *doc = openPhoto(photo);
    auto *window = doc ? qobject_cast<XSDocumentWindowController *>(doc->windowControllers().value(0)) : nullptr;
    KTMainLayoutViewController *layout = window ? window->mainLayoutViewController() : nullptr;
    if (!layout) {
        std::fprintf(stderr, "kantelo-manual: the photo did not open\n");
        return;
    }
    auto apply = [&](const char *name) {
        if (Variation *variation = Variation::variationWithName(QString::fromLatin1(name), templates))
            layout->replaceTemplateWithVariation(variation);
        else
            std::fprintf(stderr, "kantelo-manual: no design \"%s\"\n", name);
        settle(100);
    };
    std::shared_ptr<KTTemplate> design = doc->docTemplate();

    // Framed examples.
    apply("Double Mat Oak");
    pictures.add(QStringLiteral("example-double-mat.jpg"), framedExample(*design, 1200));
    apply("Dated Snapshot");
    for (const auto &layer : design->layers()) {
        if (auto *text = qobject_cast<KTTextOverlayLayer *>(layer.get())) {
            const platform::StyledText old = text->overlayText();
            text->setOverlayText(
                platform::StyledText(QStringLiteral("{{File name}}  {{File short date}}"), old.attributesAt(0)));
        }
    }
    pictures.add(QStringLiteral("example-placeholders.jpg"), framedExample(*design, 1200));
    apply("Museum Gold");
    pictures.add(QStringLiteral("example-museum-gold.jpg"), framedExample(*design, 1200));

    // The document window with the library open on a set of gilt frames.
    QWidget *mainWindow = doc->windowForSheet();
    mainWindow->resize(1360, 860);
    mainWindow->show();
    KTMainSplitViewController *split = layout->mainSplitViewController();
    split->openLibraryPanel();
    auto *library = qobject_cast<KTLibraryViewController *>(split->libraryViewController());
    for (FrameSet *set : delegate.managedObjectContext()->fetchObjects<FrameSet>()) {
        if (library && set->name() == QLatin1String("Gilt"))
            library->displayFramesInSet(set);
    }
    if (auto *palette = dynamic_cast<KTLayersPaletteInterface *>(window->layersPaletteController()))
        palette->selectLayer(design->topmostFrameLayer().get());
    settle(800);
    pictures.addWindow(QStringLiteral("document-window.png"), mainWindow);
    pictures.addWindow(QStringLiteral("library-panel.png"), split->libraryPanelManagerViewController()->view(), 660);
    pictures.addWindow(QStringLiteral("layer-settings.png"), layout->panelManagerViewController()->view(), 320);
    layout->openTemplatesPanel();
    settle(600);
    pictures.addWindow(QStringLiteral("templates-panel.png"), split->libraryPanelManagerViewController()->view());

    // Save As: the panel's own choices, taken from the request and answered with Cancel.
    platform::setSavePanelPresenter([&](const platform::SavePanelRequest &request) {
        if (request.accessoryView) {
            request.accessoryView->adjustSize();
            request.accessoryView->show();
            pictures.addWindow(QStringLiteral("save-panel.png"), request.accessoryView);
        }
        return QUrl();
    });
    doc->saveDocumentAsFromMenu();
    settle(100);
    platform::setSavePanelPresenter(nullptr);

    delegate.showPreferences();
    pictures.addWindow(QStringLiteral("preferences.png"),
                       KTPreferencesController::sharedPrefsWindowController()->window());
    KTPreferencesController::sharedPrefsWindowController()->closePreferences();

    // Batch processing with three photos and their previews.
    KTBatchProcessingWindowController *batch = KTBatchProcessingWindowController::showShared();
    QList<QUrl> photos;
    for (const char *name : {"Harbour.jpg", "Meadow.jpg", "Evening.jpg"}) {
        const QString copy = folder + QLatin1Char('/') + QString::fromLatin1(name);
        QFile::copy(photo, copy);
        photos << QUrl::fromLocalFile(copy);
    }
    batch->configurationViewController()->addItems(photos);
    settle(2500);
    pictures.addWindow(QStringLiteral("batch-window.png"), batch);
    batch->close();

    // The frame editor showing a moulding.
    KTFEWindowController editor(delegate.managedObjectContext());
    editor.setTemplatesContext(templates);
    editor.showWindow();
    editor.window()->resize(1200, 760);
    for (Frame *frame : delegate.managedObjectContext()->fetchObjects<Frame>()) {
        if (frame->name() == QLatin1String("Old Gold"))
            editor.displayObject(frame);
    }
    settle(1200);
    pictures.addWindow(QStringLiteral("frame-editor.png"), editor.window());
    editor.window()->close();

    KTDocumentController::sharedDocumentController()->closeAllDocuments();
    settle(100);
}

// Markdown in, paginated PDF out: each chapter on a page of its own and
// pictures no wider than the text.
bool writeManual(const QString &markdownPath, const QString &pdfPath, const QString &kanteloPath,
                 const Pictures &pictures)
{
    QFile source(markdownPath);
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "kantelo-manual: %s can't be read\n", qPrintable(markdownPath));
        return false;
    }
    QTextDocument document;
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(10);
    document.setDefaultFont(font);
    QString text = QString::fromUtf8(source.readAll());
    // The usage as the program itself prints it, so the two never differ.
    QProcess help;
    help.start(kanteloPath, {QStringLiteral("--help")});
    if (!help.waitForFinished(30000) || help.exitCode() != 0) {
        std::fprintf(stderr, "kantelo-manual: %s --help did not answer\n", qPrintable(kanteloPath));
        return false;
    }
    text.replace(QStringLiteral("@KANTELO_HELP@"), QString::fromLocal8Bit(help.readAllStandardOutput()).trimmed());
    document.setMarkdown(text);
    // After the text: setting it clears the document's resources.
    for (auto it = pictures.images().constBegin(); it != pictures.images().constEnd(); ++it)
        document.addResource(QTextDocument::ImageResource, QUrl(it.key()), it.value());

    QPdfWriter writer(pdfPath);
    writer.setTitle(QStringLiteral("Kantelo Manual"));
    writer.setCreator(QStringLiteral("Kantelo %1").arg(VLKitUtils::shortVersionString()));
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setResolution(300);

    // The text's width in the document's own units (print() lays it out at
    // 96 per inch with a 2 cm margin).
    const double textWidth = QPageSize(QPageSize::A4).size(QPageSize::Inch).width() * 96 - 2 * (2 / 2.54 * 96);
    QTextCursor cursor(&document);
    bool firstChapter = true;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        QTextBlockFormat format = block.blockFormat();
        if (format.headingLevel() == 1) {
            if (!firstChapter) {
                format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
                cursor.setPosition(block.position());
                cursor.setBlockFormat(format);
            }
            firstChapter = false;
        }
        if (block.blockFormat().nonBreakableLines()) {
            // Code: small enough that the program's usage lines fit the page.
            QTextCharFormat code;
            code.setFontPointSize(7.5);
            cursor.setPosition(block.position());
            cursor.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
            cursor.mergeCharFormat(code);
        }
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isImageFormat())
                continue;
            QTextImageFormat image = fragment.charFormat().toImageFormat();
            const QImage picture = pictures.images().value(image.name());
            if (picture.isNull())
                continue;
            const double width = std::min(textWidth, picture.width() * 0.5);
            image.setWidth(width);
            image.setHeight(width * picture.height() / picture.width());
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(image);
        }
    }
    document.print(&writer);
    return QFileInfo(pdfPath).size() > 0;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc < 4) {
        std::fprintf(stderr, "usage: kantelo-manual MANUAL.md OUTPUT.pdf KANTELO\n");
        return 2;
    }
    // A first start of its own, in a profile nobody else uses.
    QTemporaryDir profile;
    const QString home = profile.path() + QStringLiteral("/photographer");
    for (const auto &[variable, name] :
         std::initializer_list<std::pair<const char *, const char *>>{{"HOME", ""},
                                                                      {"XDG_CONFIG_HOME", "/.config"},
                                                                      {"XDG_DATA_HOME", "/.local/share"},
                                                                      {"XDG_CACHE_HOME", "/.cache"},
                                                                      {"XDG_RUNTIME_DIR", "/.runtime"}}) {
        const QString folder = home + QString::fromLatin1(name);
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv(variable, QFile::encodeName(folder));
    }
    QApplication app(argc, argv);
    app.setOrganizationName(QStringLiteral("Kantelo"));
    app.setApplicationName(QStringLiteral("Kantelo"));
    QElapsedTimer timer;
    timer.start();
    // Nobody answers questions here: every alert takes its first button.
    platform::setAlertPresenter([](const platform::AlertRequest &) { return 0; });

    VLKitUtils::load();
    AppDelegate::initialize();
    kantelo::registerWindowControllers();
    KTMainMenu::installForDocumentWindows();
    Pictures pictures;
    {
        AppDelegate delegate;
        delegate.services().startBatchProcessing = [] { KTBatchProcessingWindowController::showShared(); };
        platform::Application application(&delegate);
        bool imported = false;
        QObject::connect(&delegate, &AppDelegate::initialFramesImportEnded, [&](bool) { imported = true; });
        application.finishLaunching({});
        if (!waitFor([&] { return imported; }, 120000))
            std::fprintf(stderr, "kantelo-manual: the first start did not finish\n");
        settle(300);
        drawProgram(delegate, QString::fromLocal8Bit(qgetenv("HOME")), pictures);
    }
    const bool ok = writeManual(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]),
                                QString::fromLocal8Bit(argv[3]), pictures);
    std::printf("kantelo-manual: %lld pictures in %lld ms\n", qint64(pictures.images().size()),
                qint64(timer.elapsed()));
    return ok ? 0 : 1;
}
