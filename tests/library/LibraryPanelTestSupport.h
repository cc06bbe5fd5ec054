#pragma once

// A frame library in a real SQLite store of its own, and a library panel
// over it that picks frames into a design shown on a canvas (offscreen).

#include "../editor/EditorTestLayers.h"

#include "design/KTFrameLayer.h"
#include "kit/ui/VLCollectionView.h"
#include "library/KTLibraryContentModel.h"
#include "library/KTLibraryViewController.h"
#include "library/KTNavigationBarView.h"
#include "platform/archive/Color.h"
#include "platform/archive/TypedStreamColor.h"
#include "stores/Frame.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameCollection.h"
#include "stores/FrameSet.h"
#include "stores/FrameType.h"
#include "stores/LibraryTestSupport.h"

#include <QTest>

#include <gtest/gtest.h>

namespace librarypanel {

// A library file with its context; reopen() reads it back from disk.
struct LibraryFile : librarytest::Library {
    FrameType *type(const QString &name) { return librarytest::frameTypeNamed(moc(), name); }
    FrameCollection *collection(const QString &name) { return librarytest::newCollection(moc(), name); }
    FrameSet *set(FrameCollection *c, const QString &name) { return librarytest::newSet(moc(), c, name); }
    Frame *frame(FrameSet *s, const QString &name, const QString &typeName = QString::fromLatin1(KTFrameLayer::kColorMatTypeName))
    {
        auto *f = Frame::insertInManagedObjectContext(moc());
        f->setName(name);
        f->setFrameset(s);
        f->setFrametype(type(typeName));
        if (FrameAttribute *color = f->frameAttributeWithName(QStringLiteral("Mat color")))
            color->setColorVal(platform::typedStreamDataForColor(platform::Color::fromQColor(QColor(200, 190, 170))));
        QImage icon(64, 64, QImage::Format_ARGB32_Premultiplied);
        icon.fill(QColor::fromHsv(int(qHash(name) % 360), 150, 200));
        f->setIconImage(icon);
        return f;
    }
    void saveAndReopen()
    {
        platform::Error error;
        ASSERT_TRUE(moc()->save(&error)) << error.description.toStdString();
        open();
    }
    template <class T> T *find(const QString &name) { return librarytest::findNamed<T>(moc(), name); }
};

// The standard library of the tests: two collections, sets and frames
// with names that tell case and accents apart.
inline void fillStandard(LibraryFile &lib)
{
    FrameCollection *classic = lib.collection(QStringLiteral("Classic"));
    FrameCollection *modern = lib.collection(QStringLiteral("Modern"));
    FrameSet *gold = lib.set(classic, QStringLiteral("Gold leaf"));
    FrameSet *golden = lib.set(classic, QStringLiteral("GÖLDEN age"));
    lib.set(classic, QStringLiteral("Walnut"));
    FrameSet *plain = lib.set(modern, QStringLiteral("Plain"));
    lib.frame(gold, QStringLiteral("Gold 1"));
    lib.frame(gold, QStringLiteral("Gold 2"));
    lib.frame(gold, QStringLiteral("Rosé gold"));
    lib.frame(golden, QStringLiteral("Age 1"));
    lib.frame(plain, QStringLiteral("White mat"));
    lib.frame(plain, QStringLiteral("Black mat"));
    lib.saveAndReopen();
}

// Response to "More frames".
class PacksPage : public QObject
{
    Q_OBJECT
public:
    int opened = 0;
public slots:
    void openFramePacksPage() { ++opened; }
};

// The panel over a library file, beside a canvas whose design it adds to.
struct Panel {
    editortest::Canvas canvas;
    PacksPage packs;
    std::unique_ptr<KTLibraryViewController> controller;
    QWidget *view = nullptr;

    explicit Panel(LibraryFile &lib)
    {
        controller = std::make_unique<KTLibraryViewController>(QString::fromLatin1(KTLibraryViewController::kNibName),
                                                               nullptr);
        controller->setManagedObjectContext(lib.moc());
        controller->setDocTemplate(canvas.design);
        controller->setLayersPaletteController(canvas.palette);
        controller->setMoreFramesTarget(&packs);
        view = controller->view();
        view->resize(300, 700);
        view->show();
        QApplication::processEvents();
        bar()->repaint();
    }
    KTNavigationBarView *bar() const { return controller->navigationBarView(); }
    VLCollectionView *list() const { return controller->collectionView(); }
    QStringList names() const
    {
        QStringList out;
        for (const auto &e : controller->filteredContent())
            out << e.name();
        return out;
    }
    QStringList selectedNames() const
    {
        QStringList out;
        for (const auto &e : controller->selectedItems())
            out << e.name();
        return out;
    }
    // Clicks the bar's component as the user does.
    void clickBar(int component)
    {
        bar()->repaint();
        const QRectF box = bar()->bezierPaths().at(component).boundingRect();
        QTest::mouseClick(bar(), Qt::LeftButton, {}, QPoint(int(box.left() + 12), int(box.center().y())));
    }
    void select(const QString &name)
    {
        const int i = int(names().indexOf(name));
        ASSERT_GE(i, 0) << name.toStdString();
        controller->selectItemAtIndex(i);
    }
    void key(Qt::Key k, const QString &text = QString())
    {
        QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier, text);
        QApplication::sendEvent(list(), &press);
    }
    void doubleClick(const QString &name)
    {
        const int i = int(names().indexOf(name));
        ASSERT_GE(i, 0) << name.toStdString();
        controller->selectItemAtIndex(i); // the first click of the two selects
        controller->collectionViewDidDoubleClickOnItemAtIndexPath(list(), controller->contentModel()->index(i));
    }
    void holdAlt(bool down)
    {
        QKeyEvent e(down ? QEvent::KeyPress : QEvent::KeyRelease, Qt::Key_Alt, down ? Qt::AltModifier : Qt::NoModifier);
        platform::NotificationCenter::defaultCenter().post(QStringLiteral("flagsChangedNotification"), &e);
    }
};

} // namespace librarypanel
