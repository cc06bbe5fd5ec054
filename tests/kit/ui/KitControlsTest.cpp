#include "KitUiTestShots.h"
#include "kit/ui/KTImageView.h"
#include "kit/ui/KTLibraryCollectionViewItem.h"
#include "kit/ui/VLBlockDrawView.h"
#include "kit/ui/VLCollectionView.h"
#include "kit/ui/VLCollectionViewDelegate.h"
#include "kit/ui/VLForwardingView.h"
#include "kit/ui/VLForwardingViewProtocol.h"
#include "kit/ui/VLHoverButton.h"
#include "kit/ui/VLLeftFlowLayout.h"
#include "kit/ui/VLTableView.h"
#include "platform/NotificationCenter.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QFrame>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QStandardItemModel>
#include <QTest>
#include <QUrl>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

QIcon solidIcon(QColor color)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(color);
    return QIcon(pixmap);
}

// A window with a hover button in its middle and room around it.
struct HoverFixture {
    QWidget window;
    VLHoverButton *button;
    QIcon normal = solidIcon(Qt::blue);
    QIcon hover = solidIcon(Qt::red);
    int entered = 0;
    int exited = 0;

    HoverFixture()
    {
        window.resize(200, 120);
        button = new VLHoverButton(&window);
        button->setGeometry(60, 40, 80, 40);
        button->setImage(normal);
        button->setHoverEnterBlock([this] { ++entered; });
        button->setHoverExitBlock([this] { ++exited; });
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window, testsupport::kHangGuardMs));
        QTest::mouseMove(&window, QPoint(5, 5));
        entered = exited = 0;
    }
    void moveInside() { QTest::mouseMove(&window, QPoint(100, 60)); }
    void moveOutside() { QTest::mouseMove(&window, QPoint(5, 5)); }
    bool showsImage(const QIcon &icon) const { return button->image().cacheKey() == icon.cacheKey(); }
};

class Painter : public QObject, public VLForwardingViewProtocol
{
public:
    int draws = 0;
    void drawRectInView(QPainter &painter, const QRect &rect, VLForwardingView *) override
    {
        ++draws;
        painter.fillRect(rect, Qt::green);
    }
};

class Delegate : public QObject, public VLCollectionViewDelegate
{
public:
    QList<int> doubleClicked;
    bool offersMenu = false;
    int menuAsks = 0;
    void collectionViewDidDoubleClickOnItemAtIndexPath(VLCollectionView *, const QModelIndex &index) override
    {
        doubleClicked.append(index.row());
    }
    std::optional<QMenu *> collectionViewMenuForSelectedItems(VLCollectionView *) override
    {
        ++menuAsks;
        if (!offersMenu)
            return std::nullopt;
        return nullptr;
    }
};

// The collection view's parent: records the keys that reach it.
class KeyCatcher : public QWidget
{
public:
    QList<int> keys;

protected:
    void keyPressEvent(QKeyEvent *event) override { keys.append(event->key()); }
};

// A represented object with a dynamic "name" property that counts its sets.
class Named : public QObject
{
public:
    int changes = 0;
    explicit Named(const QString &name) { setProperty("name", name); changes = 0; }

protected:
    bool event(QEvent *e) override
    {
        if (e->type() == QEvent::DynamicPropertyChange)
            ++changes;
        return QObject::event(e);
    }
};

} // namespace

TEST(KitHoverButton, HoverSwapsImageAndBack)
{
    HoverFixture f;
    f.button->setHoverImage(f.hover);
    f.moveInside();
    EXPECT_TRUE(f.showsImage(f.hover));
    EXPECT_EQ(f.entered, 1);
    f.moveOutside();
    EXPECT_TRUE(f.showsImage(f.normal));
    EXPECT_EQ(f.exited, 1);
}

TEST(KitHoverButton, WithoutHoverImageShowsNoImageInside)
{
    HoverFixture f;
    f.moveInside();
    EXPECT_TRUE(f.button->image().isNull());
    EXPECT_EQ(f.entered, 1);
    f.moveOutside();
    EXPECT_TRUE(f.showsImage(f.normal));
}

TEST(KitHoverButton, ImageAlreadyHoverImageRunsNoEnterBlock)
{
    HoverFixture f;
    f.button->setHoverImage(f.normal);
    f.moveInside();
    EXPECT_TRUE(f.showsImage(f.normal));
    EXPECT_EQ(f.entered, 0);
}

TEST(KitHoverButton, HidingDropsTrackingShowingRestoresIt)
{
    HoverFixture f;
    f.button->setHoverImage(f.hover);
    f.moveInside();
    ASSERT_TRUE(f.showsImage(f.hover));
    f.button->hide();
    EXPECT_FALSE(f.button->hasTrackingArea());
    f.button->show();
    EXPECT_TRUE(f.button->hasTrackingArea());
    f.moveOutside();
    EXPECT_TRUE(f.showsImage(f.normal));
}

TEST(KitBlockDrawView, DrawsThroughItsBlockAndReportsOpacity)
{
    VLBlockDrawView plain;
    EXPECT_FALSE(plain.isOpaque());
    plain.setReportAsOpaque(true);
    EXPECT_TRUE(plain.isOpaque());

    int calls = 0;
    VLBlockDrawView view([&](VLBlockDrawView *self, QPainter &painter, const QRect &) {
        ++calls;
        painter.fillRect(self->rect(), Qt::red);
    });
    view.resize(20, 10);
    const QImage image = view.grab().toImage();
    EXPECT_GE(calls, 1);
    EXPECT_EQ(image.pixelColor(10, 5), QColor(Qt::red));
}

TEST(KitForwardingView, DrawsThroughItsTargetHeldWeakly)
{
    VLForwardingView view;
    view.resize(20, 10);
    auto *target = new Painter;
    view.setTarget(target);
    view.setForwardContext(QVariant(7));
    EXPECT_EQ(view.grab().toImage().pixelColor(5, 5), QColor(Qt::green));
    EXPECT_EQ(target->draws, 1);
    EXPECT_EQ(view.forwardContext().toInt(), 7);
    delete target;
    EXPECT_EQ(view.target(), nullptr);
    view.grab(); // no target, nothing drawn, no crash
}

TEST(KitCollectionView, SelectionKeysGoToTheParent)
{
    KeyCatcher parent;
    auto *layout = new QVBoxLayout(&parent);
    auto *view = new VLCollectionView(&parent);
    layout->addWidget(view);
    QStandardItemModel model;
    for (const char *name : {"a", "b", "c"})
        model.appendRow(new QStandardItem(QString::fromLatin1(name)));
    view->setModel(&model);
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent, testsupport::kHangGuardMs));
    view->setFocus();
    view->setCurrentIndex(model.index(0, 0));

    for (int key : {Qt::Key_Backspace, Qt::Key_Delete, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space})
        QTest::keyClick(view, Qt::Key(key));
    EXPECT_EQ(parent.keys, (QList<int>{Qt::Key_Backspace, Qt::Key_Delete, Qt::Key_Return, Qt::Key_Enter,
                                       Qt::Key_Space}));
    parent.keys.clear();
    QTest::keyClick(view, Qt::Key_Right); // the view's own: moves the current item
    EXPECT_TRUE(parent.keys.isEmpty());
    EXPECT_EQ(view->currentIndex().row(), 1);
}

TEST(KitCollectionView, DoubleClickOnItemReachesDelegateOnly)
{
    VLCollectionView view;
    QStandardItemModel model;
    for (const char *name : {"first", "second"})
        model.appendRow(new QStandardItem(QString::fromLatin1(name)));
    view.setModel(&model);
    view.resize(300, 200);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view, testsupport::kHangGuardMs));
    Delegate delegate;
    view.setVlDelegate(&delegate);

    const QPoint second = view.visualRect(model.index(1, 0)).center();
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, second);
    EXPECT_EQ(delegate.doubleClicked, QList<int>{1});
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, QPoint(290, 190)); // empty space
    EXPECT_EQ(delegate.doubleClicked, QList<int>{1});
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, second); // a single click is not one
    EXPECT_EQ(delegate.doubleClicked, QList<int>{1});

    // A delegate that is gone is never called.
    {
        Delegate shortLived;
        view.setVlDelegate(&shortLived);
    }
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, second);
    EXPECT_EQ(view.vlDelegate(), nullptr);
}

TEST(KitCollectionView, ContextMenuAsksTheDelegate)
{
    VLCollectionView view;
    view.resize(100, 100);
    Delegate delegate;
    delegate.offersMenu = true;
    view.setVlDelegate(&delegate);
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10), QPoint(10, 10));
    QApplication::sendEvent(view.viewport(), &event);
    EXPECT_EQ(delegate.menuAsks, 1);
    EXPECT_TRUE(event.isAccepted());
}

TEST(KitLeftFlowLayout, RowsStartAtTheLeftInset)
{
    VLLeftFlowLayout layout;
    layout.sectionInsetLeft = 10;
    layout.minimumInteritemSpacing = 5;
    const QList<VLLeftFlowLayout::LayoutAttributes> inherited = {
        {QRectF(30, 0, 50, 40), 0},  {QRectF(100, 0, 60, 40), 1}, {QRectF(190, 0, 70, 40), 2},
        {QRectF(40, 50, 50, 40), 3}, {QRectF(120, 50, 50, 40), 4},
    };
    const auto placed = layout.layoutAttributesForElements(inherited);
    ASSERT_EQ(placed.size(), 5);
    EXPECT_EQ(placed[0].frame.x(), 10);
    EXPECT_EQ(placed[1].frame.x(), 65);
    EXPECT_EQ(placed[2].frame.x(), 130);
    EXPECT_EQ(placed[3].frame.x(), 10);
    EXPECT_EQ(placed[4].frame.x(), 65);
    EXPECT_EQ(placed[2].frame.size(), QSizeF(70, 40));
    EXPECT_EQ(inherited[0].frame.x(), 30);
    EXPECT_TRUE(layout.layoutAttributesForElements({}).isEmpty());

    // Columns: 10 + 3 x 50 + 2 x 5 = 170 holds three, a pixel less two.
    EXPECT_EQ(layout.columnsFitting(170, 50), 3);
    EXPECT_EQ(layout.columnsFitting(169, 50), 2);
    EXPECT_EQ(layout.columnsFitting(20, 50), 1);
    EXPECT_DOUBLE_EQ(layout.itemWidthSharing(169, 2), 77);
}

TEST(KitImageView, RemembersTheFirstDroppedFile)
{
    const QString dir = testsupport::scratchDir();
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(Qt::yellow);
    const QString first = dir + "/first.png";
    const QString second = dir + "/second.png";
    ASSERT_TRUE(picture.save(first));
    ASSERT_TRUE(picture.save(second));

    KTImageView well;
    well.resize(64, 64);
    // As a real drag: enter (which makes the well the drop target), then drop.
    auto drop = [&](QMimeData *mime) {
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, mime, Qt::LeftButton, {});
        QApplication::sendEvent(&well, &enter);
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, mime, Qt::LeftButton, {});
        QApplication::sendEvent(&well, &event);
        return event.isAccepted();
    };
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)});
    EXPECT_TRUE(drop(&files));
    EXPECT_EQ(well.imagePath(), first);
    EXPECT_FALSE(well.image().isNull());

    // A drop the well refuses leaves the path alone.
    QMimeData text;
    text.setText("not a picture");
    EXPECT_FALSE(drop(&text));
    EXPECT_EQ(well.imagePath(), first);

    // A picture without a file list keeps the path too.
    QMimeData bare;
    bare.setImageData(picture);
    EXPECT_TRUE(drop(&bare));
    EXPECT_EQ(well.imagePath(), first);
}

TEST(KitLibraryItem, SelectionBorderAndNameEditing)
{
    KTLibraryCollectionViewItem item;
    Named object("Oak");
    item.setRepresentedObject(QVariant::fromValue<QObject *>(&object));
    item.setName("Oak");
    item.setIcon(solidIcon(QColor(120, 80, 40)));
    ASSERT_TRUE(item.view());
    EXPECT_EQ(item.view()->objectName(), "LibraryCellTemplate");

    item.setSelected(true);
    EXPECT_EQ(item.selectionWidth(), 3.0);
    EXPECT_TRUE(item.selectionView()->styleSheet().contains("border: 3px"));
    item.view()->resize(item.view()->sizeHint());
    saveKitShot(item.view(), "library-item-selected");
    item.setSelected(false);
    EXPECT_EQ(item.selectionWidth(), 0.0);
    item.setHighlightState(KTLibraryCollectionViewItem::HighlightState::ForSelection);
    EXPECT_EQ(item.selectionWidth(), 3.0);
    item.setHighlightState(KTLibraryCollectionViewItem::HighlightState::AsDropTarget);
    EXPECT_EQ(item.selectionWidth(), 3.0);

    // The same text changes nothing; a new one reaches the object.
    item.nameEdited(item.textField());
    EXPECT_EQ(object.changes, 0);
    item.textField()->setText("Walnut");
    item.nameEdited(item.textField());
    EXPECT_EQ(object.property("name").toString(), "Walnut");
    EXPECT_EQ(item.name(), "Walnut");
    EXPECT_EQ(object.changes, 1);
}

TEST(KitTableView, AnnouncesTakingTheFocus)
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *other = new QLineEdit(&window);
    auto *table = new VLTableView(&window);
    layout->addWidget(other);
    layout->addWidget(table);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, testsupport::kHangGuardMs));
    QApplication::setActiveWindow(&window);
    other->setFocus();

    QList<const void *> senders;
    QObject context;
    platform::NotificationCenter::defaultCenter().addObserver(
        VLTableView::kFirstResponderNotification, nullptr,
        [&](const platform::Notification &n) { senders.append(n.sender); }, &context);
    table->setFocus();
    EXPECT_TRUE(testsupport::waitUntil([&] { return !senders.isEmpty(); }));
    EXPECT_EQ(senders, QList<const void *>{table});
}
