#pragma once

// A frames store of its own with an undo manager, and a small stand-in for
// the frame editor window that holds the attribute table and the graphics
// browser over it (offscreen).

#include "frameeditor/KTEAttributesController.h"
#include "frameeditor/KTEImagesController.h"
#include "frameeditor/KTFEWindowInterface.h"
#include "platform/objectstore/UndoManager.h"
#include "stores/Frame.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameCollection.h"
#include "stores/FrameImage.h"
#include "stores/FrameSet.h"
#include "stores/FrameType.h"
#include "stores/LibraryTestSupport.h"

#include <QCoreApplication>
#include <QImage>
#include <QTableView>

#include <gtest/gtest.h>

namespace frameeditortest {

struct Window : KTFEWindowInterface {
    librarytest::Library library;
    std::unique_ptr<platform::UndoManager> undoManager = std::make_unique<platform::UndoManager>();
    platform::UndoManager *undo = undoManager.get();
    std::unique_ptr<KTEImagesController> images;
    std::unique_ptr<KTEAttributesController> attributes;
    FrameType *chosenType = nullptr;
    QList<Frame *> previews;

    Window()
    {
        librarytest::sharedLibrary(); // the graphics folder the pictures go to
        library.moc()->setUndoManager(undo);
        images = std::make_unique<KTEImagesController>(this);
        attributes = std::make_unique<KTEAttributesController>(this);
        QObject::connect(images.get(), &KTEImagesController::imagesRemoved, attributes.get(),
                         &KTEAttributesController::refresh);
        images->browserView()->resize(500, 300);
        attributes->attributesTableView()->resize(400, 600);
        attributes->attributesTableView()->show();
    }
    platform::ManagedObjectContext *framesContext() const override { return library.context.get(); }
    KTEOutlineController *outlineController() const override { return nullptr; }
    KTEAttributesController *attributesController() const override { return attributes.get(); }
    KTEImagesController *imagesController() const override { return images.get(); }
    FrameType *selectedFrameType() const override { return chosenType; }
    void setSelectedFrameType(FrameType *type) override { chosenType = type; }
    void displayCollection(FrameCollection *) override {}
    void displaySet(FrameSet *) override {}
    void displayFrame(Frame *) override {}
    void displayPreviewWithFrame(Frame *frame) override { previews << frame; }

    platform::ManagedObjectContext *moc() { return library.moc(); }
    // Reads the store file again into a fresh context.
    void reopen()
    {
        attributes->showAttributesFor(nullptr);
        library.open();
        moc()->setUndoManager(undo);
        images->reloadImages();
    }
    FrameType *type(const QString &name) { return librarytest::frameTypeNamed(moc(), name); }
    Frame *frame(const QString &name, const QString &typeName)
    {
        auto *f = Frame::insertInManagedObjectContext(moc());
        f->setName(name);
        f->setFrametype(type(typeName));
        return f;
    }
    // A real PNG file, then the library's copy of it.
    FrameImage *picture(const QString &name, const QColor &color = Qt::darkRed)
    {
        const QString path = librarytest::freshFolder() + '/' + name;
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(color);
        EXPECT_TRUE(image.save(path));
        return FrameImage::frameImageFromImageAtPath(path, moc());
    }
    // Ends the current step of undo, as the event loop does between user actions.
    void endStep() { QCoreApplication::processEvents(); }
    QTableView *table() { return attributes->attributesTableView(); }
    int row(const QString &property)
    {
        for (int r = 0; r < attributes->numberOfRows(); ++r)
            if (attributes->propertyForRow(r) == property)
                return r;
        ADD_FAILURE() << "no row " << property.toStdString();
        return -1;
    }
};

} // namespace frameeditortest
