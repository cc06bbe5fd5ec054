#include "platform/Alert.h"
#include "platform/UserDefaults.h"
#include "platform/handoff/Handoff.h"
#include "platform/ui/Application.h"
#include "platform/ui/Document.h"
#include "platform/ui/DocumentController.h"
#include "platform/ui/FilePanels.h"
#include "platform/ui/SingleInstance.h"
#include "platform/ui/WindowController.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QUndoStack>
#include <QUuid>
#include <QWidget>

using namespace platform;

namespace {

// A document that writes its text to its file.
class TextDocument : public Document
{
public:
    QByteArray text = "hello";
    int writes = 0;
    bool failWrites = false;
    bool writeToURL(const QUrl &url, const QString &, Error *error) override
    {
        ++writes;
        QFile file(url.toLocalFile());
        if (failWrites || !file.open(QIODevice::WriteOnly)) {
            if (error)
                *error = Error{"Test", 2, "cannot write", {}, {}};
            return false;
        }
        file.write(text);
        return true;
    }
    void makeWindowControllers() override { addWindowController(new WindowController("TextWindow")); }
};

class TextController : public DocumentController
{
public:
    Document *makeUntitledDocument(Error *) override { return new TextDocument; }
};

QString freshDir()
{
    const QString dir = testsupport::scratchDir() + '/' + QUuid::createUuid().toString(QUuid::Id128);
    QDir().mkpath(dir);
    return dir;
}

class DocumentFrameworkFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        UserDefaults::standard().removeObject(DocumentController::kRecentDocumentsKey);
        setAlertPresenter([this](const AlertRequest &request) {
            asked.append(request);
            const QString answer = answers.isEmpty() ? QString() : answers.takeFirst();
            return int(std::max<qsizetype>(0, request.buttons.indexOf(answer)));
        });
    }
    void TearDown() override
    {
        controller.closeAllDocuments();
        QCoreApplication::processEvents();
        // Closed documents go now, with the work they still run in the background.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        setAlertPresenter(nullptr);
        setSavePanelPresenter(nullptr);
    }
    TextController controller;
    QStringList answers;
    QList<AlertRequest> asked;
};

} // namespace

TEST_F(DocumentFrameworkFixture, ChangeCountAndUndoDecideWhetherADocumentIsEdited)
{
    TextDocument doc;
    EXPECT_FALSE(doc.isDocumentEdited());
    doc.updateChangeCount(Document::ChangeKind::Done);
    doc.updateChangeCount(Document::ChangeKind::Done);
    doc.updateChangeCount(Document::ChangeKind::Undone);
    EXPECT_TRUE(doc.isDocumentEdited());
    doc.updateChangeCount(Document::ChangeKind::Undone);
    EXPECT_FALSE(doc.isDocumentEdited());
    doc.updateChangeCount(Document::ChangeKind::Redone);
    EXPECT_TRUE(doc.isDocumentEdited());
    doc.updateChangeCount(Document::ChangeKind::Cleared);
    EXPECT_FALSE(doc.isDocumentEdited());

    QUndoStack *undo = doc.undoManager();
    ASSERT_TRUE(undo);
    undo->push(new QUndoCommand("edit"));
    doc.updateChangeCount(Document::ChangeKind::Done);
    undo->undo();
    EXPECT_FALSE(doc.isDocumentEdited()) << "undoing to the clean state leaves nothing to save";
}

TEST_F(DocumentFrameworkFixture, UntitledDocumentsAreNumberedAndNamedFiles)
{
    Error error;
    Document *first = controller.openUntitledDocumentAndDisplay(false, &error);
    Document *second = controller.openUntitledDocumentAndDisplay(false, &error);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->displayName(), "Untitled");
    EXPECT_EQ(second->displayName(), "Untitled 2");
    second->setFileURL(QUrl::fromLocalFile("/tmp/some/picture.png"));
    EXPECT_EQ(second->displayName(), "picture.png");
    EXPECT_EQ(controller.documents().size(), 2);
}

TEST_F(DocumentFrameworkFixture, RecentDocumentsKeepTheLatestTenNewestFirst)
{
    for (int i = 0; i < 12; ++i)
        controller.noteNewRecentDocumentURL(QUrl::fromLocalFile(QStringLiteral("/photos/%1.jpg").arg(i)));
    controller.noteNewRecentDocumentURL(QUrl::fromLocalFile("/photos/5.jpg"));
    const QList<QUrl> recent = controller.recentDocumentURLs();
    ASSERT_EQ(recent.size(), 10);
    EXPECT_EQ(recent.first(), QUrl::fromLocalFile("/photos/5.jpg"));
    EXPECT_EQ(recent.at(1), QUrl::fromLocalFile("/photos/11.jpg"));
    EXPECT_EQ(recent.count(QUrl::fromLocalFile("/photos/5.jpg")), 1);
    EXPECT_FALSE(recent.contains(QUrl::fromLocalFile("/photos/0.jpg")));
    controller.clearRecentDocuments();
    EXPECT_TRUE(controller.recentDocumentURLs().isEmpty());
}

TEST_F(DocumentFrameworkFixture, OpenPanelOpensEveryChosenFileAndReportsMissingOnes)
{
    const QString dir = freshDir();
    QFile(dir + "/a.txt").open(QIODevice::WriteOnly);
    QFile(dir + "/b.txt").open(QIODevice::WriteOnly);
    QList<Error> errors;
    setErrorPresenter([&](const Error &e) { errors.append(e); });
    OpenPanelRequest seen;
    setOpenPanelPresenter([&](const OpenPanelRequest &request) {
        seen = request;
        return QList<QUrl>{QUrl::fromLocalFile(dir + "/a.txt"), QUrl::fromLocalFile(dir + "/b.txt"),
                           QUrl::fromLocalFile(dir + "/gone.txt")};
    });
    controller.openDocument();
    setOpenPanelPresenter(nullptr);
    setErrorPresenter(nullptr);
    EXPECT_TRUE(seen.allowsMultipleSelection);
    EXPECT_EQ(controller.documents().size(), 2);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].description.contains("gone.txt"));
    ASSERT_TRUE(controller.documentForURL(QUrl::fromLocalFile(dir + "/a.txt")));
}

TEST_F(DocumentFrameworkFixture, ReviewAtQuitSavesCancelsOrDiscards)
{
    const QString dir = freshDir();
    Error error;
    auto *doc = static_cast<TextDocument *>(controller.openUntitledDocumentAndDisplay(false, &error));
    doc->updateChangeCount(Document::ChangeKind::Done);

    answers = {"Cancel"};
    EXPECT_FALSE(controller.reviewUnsavedDocuments());
    EXPECT_TRUE(doc->isDocumentEdited());

    // Save on an untitled document goes through the save panel.
    setSavePanelPresenter([&](const SavePanelRequest &request) {
        EXPECT_EQ(request.nameFieldValue, "Untitled");
        return QUrl::fromLocalFile(dir + "/saved.txt");
    });
    answers = {"Save"};
    EXPECT_TRUE(controller.reviewUnsavedDocuments());
    EXPECT_FALSE(doc->isDocumentEdited());
    EXPECT_EQ(doc->fileURL(), QUrl::fromLocalFile(dir + "/saved.txt"));
    QFile saved(dir + "/saved.txt");
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), "hello");

    // A failed save is shown and stops the quit; the edits stay.
    doc->updateChangeCount(Document::ChangeKind::Done);
    doc->failWrites = true;
    QList<Error> errors;
    setErrorPresenter([&](const Error &e) { errors.append(e); });
    answers = {"Save"};
    EXPECT_FALSE(controller.reviewUnsavedDocuments());
    setErrorPresenter(nullptr);
    EXPECT_EQ(errors.size(), 1);
    EXPECT_TRUE(doc->isDocumentEdited());

    answers = {"Don’t Save"};
    EXPECT_TRUE(controller.reviewUnsavedDocuments());
}

TEST_F(DocumentFrameworkFixture, TerminateWaitsForALaterReply)
{
    struct Later : ApplicationDelegate {
        int will = 0;
        TerminateReply applicationShouldTerminate() override { return TerminateReply::Later; }
        void applicationWillTerminate() override { ++will; }
    } delegate;
    Application app(&delegate);
    int quits = 0;
    app.setQuitHandler([&] { ++quits; });
    app.terminate();
    EXPECT_TRUE(app.isAwaitingTerminateReply());
    EXPECT_EQ(quits, 0);
    app.replyToApplicationShouldTerminate(false);
    EXPECT_EQ(quits, 0);
    app.terminate();
    app.replyToApplicationShouldTerminate(true);
    EXPECT_EQ(delegate.will, 1);
    EXPECT_EQ(quits, 1);
}

TEST_F(DocumentFrameworkFixture, AQuitAWindowRefusesKeepsThatWindowAndCanBeAskedAgain)
{
    struct Stubborn : QWidget {
        bool refuse = true;
        void closeEvent(QCloseEvent *event) override { event->setAccepted(!refuse); }
    } window;
    window.show();
    struct Now : ApplicationDelegate {
        int asked = 0;
        TerminateReply applicationShouldTerminate() override { return ++asked, TerminateReply::Now; }
    } delegate;
    Application app(&delegate);
    app.terminate();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(app.isTerminating()) << "a later quit is heard";
    app.terminate();
    EXPECT_EQ(delegate.asked, 2);
    window.refuse = false;
    window.close();
}

TEST(SingleInstanceTest, ALaterStartHandsItsFilesToTheRunningOne)
{
    const QString name = QStringLiteral("kantelo-test-%1").arg(QUuid::createUuid().toString(QUuid::Id128));
    SingleInstance other(name);
    EXPECT_FALSE(other.sendToRunningInstance({"a.jpg"}, 200)) << "nobody runs yet";

    SingleInstance running(name);
    ASSERT_TRUE(running.listen());
    QStringList received;
    QObject::connect(&running, &SingleInstance::filesReceived, [&](const QStringList &paths) { received = paths; });
    SingleInstance second(name);
    ASSERT_TRUE(second.sendToRunningInstance({"/photos/one.jpg", "two é.png"}));
    ASSERT_TRUE(testsupport::waitUntil([&] { return !received.isEmpty(); }));
    EXPECT_EQ(received.at(0), "/photos/one.jpg");
    EXPECT_EQ(received.at(1), QDir::current().absoluteFilePath("two é.png")) << "relative paths are made absolute";

    // A design named at that start goes along, for those files.
    QString design;
    QObject::connect(&running, &SingleInstance::filesReceived,
                     [&](const QStringList &, const QString &name) { design = name; });
    ASSERT_TRUE(second.sendRequestToRunningInstance({{"/photos/three.jpg"}, "Gold \"Leaf\""}));
    ASSERT_TRUE(testsupport::waitUntil([&] { return !design.isEmpty(); }));
    EXPECT_EQ(received, QStringList{"/photos/three.jpg"});
    EXPECT_EQ(design, "Gold \"Leaf\"");
}

// Silent connections hold no slot and no memory for long: the surplus is
// closed at once, the rest once idle; a real start gets through after.
TEST(SingleInstanceTest, SurplusAndIdleConnectionsAreDropped)
{
    const QString name = QStringLiteral("kantelo-test-%1").arg(QUuid::createUuid().toString(QUuid::Id128));
    SingleInstance running(name);
    running.setIdleTimeoutMs(300);
    ASSERT_TRUE(running.listen());
    QList<QStringList> received;
    QObject::connect(&running, &SingleInstance::filesReceived, [&](const QStringList &paths) { received << paths; });
    std::vector<std::unique_ptr<QLocalSocket>> silent(SingleInstance::kMaximumConnections + 4);
    for (auto &socket : silent) {
        socket = std::make_unique<QLocalSocket>();
        socket->connectToServer(name);
        ASSERT_TRUE(socket->waitForConnected(testsupport::kHangGuardMs));
        socket->write(QByteArray(64 * 1024, '['));
    }
    auto closed = [&] {
        return std::count_if(silent.begin(), silent.end(), [](auto &s) { return s->state() == QLocalSocket::UnconnectedState; });
    };
    ASSERT_TRUE(testsupport::waitUntil([&] { return closed() >= 4; }));
    EXPECT_LE(running.openConnections(), SingleInstance::kMaximumConnections);
    ASSERT_TRUE(testsupport::waitUntil([&] { return closed() == qsizetype(silent.size()); }));
    EXPECT_EQ(running.openConnections(), 0);
    ASSERT_TRUE(SingleInstance(name).sendToRunningInstance({"/photos/one.jpg"}));
    EXPECT_TRUE(testsupport::waitUntil([&] { return received == QList<QStringList>{{"/photos/one.jpg"}}; }));
}

// A start that finds every slot held by slow talkers gets one at once, and
// bytes trickled in keep no connection past its time.
TEST(SingleInstanceTest, AStartWaitsForTheSlotsThatTricklersLose)
{
    const QString name = QStringLiteral("kantelo-test-%1").arg(QUuid::createUuid().toString(QUuid::Id128));
    SingleInstance running(name);
    running.setIdleTimeoutMs(300);
    ASSERT_TRUE(running.listen());
    QList<QStringList> received;
    QObject::connect(&running, &SingleInstance::filesReceived, [&](const QStringList &paths) { received << paths; });
    std::vector<std::unique_ptr<QLocalSocket>> slow(SingleInstance::kMaximumConnections);
    for (auto &socket : slow) {
        socket = std::make_unique<QLocalSocket>();
        socket->connectToServer(name);
        ASSERT_TRUE(socket->waitForConnected(testsupport::kHangGuardMs));
    }
    ASSERT_TRUE(testsupport::waitUntil([&] { return running.openConnections() == SingleInstance::kMaximumConnections; }));
    ASSERT_TRUE(SingleInstance(name).sendToRunningInstance({"/photos/late.jpg"}));
    EXPECT_TRUE(testsupport::waitUntil([&] {
        for (auto &socket : slow)
            socket->write("[");
        return received == QList<QStringList>{{"/photos/late.jpg"}};
    }));
    EXPECT_TRUE(testsupport::waitUntil([&] {
        for (auto &socket : slow)
            socket->write("[");
        return running.openConnections() == 0;
    }));
}

TEST(SingleInstanceTest, MalformedMessagesAreRefused)
{
    for (const QByteArray &bad : {QByteArray("{\"a\":1}"), QByteArray("[\"a\", 3]"),
                                  QByteArray(SingleInstance::kMaximumMessageSize + 1, '[')}) {
        const auto paths = SingleInstance::decodeMessage(bad);
        EXPECT_FALSE(paths);
        EXPECT_FALSE(paths.error().description.isEmpty());
    }
    const auto paths = SingleInstance::decodeMessage(SingleInstance::encodeMessage({"x", "y"}));
    ASSERT_TRUE(paths);
    EXPECT_EQ(paths.value(), (QStringList{"x", "y"}));

    // With a design: an object of exactly the paths and the name; a plain
    // array still reads as paths alone.
    const Handoff::Request request{{"x"}, "Baroque"};
    const auto withDesign = Handoff::decodeRequest(Handoff::encodeRequest(request));
    ASSERT_TRUE(withDesign);
    EXPECT_EQ(withDesign.value(), request);
    const auto plain = Handoff::decodeRequest("[\"x\"]");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain.value(), (Handoff::Request{{"x"}, {}}));
    for (const char *bad :
         {"{\"paths\":[\"x\"]}", "{\"paths\":[1],\"template\":\"B\"}", "{\"paths\":\"x\",\"template\":\"B\"}",
          "{\"paths\":[],\"template\":2}", "{\"paths\":[],\"template\":\"B\",\"more\":1}", "\"x\""})
        EXPECT_FALSE(Handoff::decodeRequest(bad)) << bad;
}

TEST(SingleInstanceTest, OpeningWithoutARunningOrInstalledKanteloFailsWithAReason)
{
    // No instance listens in an empty runtime folder, and no program is found.
    const QString runtime = QDir::temp().filePath(QUuid::createUuid().toString(QUuid::Id128));
    ASSERT_TRUE(QDir().mkpath(runtime));
    const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR"), oldPath = qgetenv("PATH");
    qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    qputenv("PATH", runtime.toLocal8Bit());
    Error error;
    const bool opened = Handoff::openFileWithApplication(QStringLiteral("photo.jpg"), &error);
    qputenv("XDG_RUNTIME_DIR", oldRuntime);
    qputenv("PATH", oldPath);
    QDir(runtime).removeRecursively();
    EXPECT_FALSE(opened);
    EXPECT_EQ(error.domain, kKanteloErrorDomain);
    EXPECT_EQ(error.description,
              "Kantelo isn't installed: the program “kantelo” was found neither beside this one nor on PATH.");
}
