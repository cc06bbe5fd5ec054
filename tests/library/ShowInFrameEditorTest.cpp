#include "LibraryPanelTestSupport.h"

#include "support/TestSupport.h"

namespace {

using namespace librarypanel;

// The application as the panel reaches it: opens the frame editor, then
// shows an item in it.
class FrameEditorTarget : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool canOpenFramesEditor READ canOpenFramesEditor CONSTANT)
public:
    bool canOpenFramesEditor() const { return true; }
    int opened = 0;
    QString shown;
public slots:
    void openFramesEditor() { ++opened; }
    void displayInFramesEditor(const QString &objectURI) { shown = objectURI; }
};

TEST(LibraryShowInFrameEditor, OpensTheEditorThenShowsTheItemOnTheNextPass)
{
    LibraryFile lib;
    fillStandard(lib);
    Panel panel(lib);
    FrameEditorTarget app;
    panel.controller->setMoreFramesTarget(&app);
    panel.select(QStringLiteral("Modern"));
    panel.controller->showInFrameEditor();
    EXPECT_EQ(app.opened, 1);
    EXPECT_TRUE(app.shown.isEmpty()); // once the editor's window is up
    ASSERT_TRUE(testsupport::waitUntil([&] { return !app.shown.isEmpty(); }));
    EXPECT_EQ(lib.moc()->objectWithURI(app.shown), lib.find<FrameCollection>(QStringLiteral("Modern")));
}

} // namespace

#include "ShowInFrameEditorTest.moc"
