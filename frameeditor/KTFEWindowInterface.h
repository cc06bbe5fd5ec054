#pragma once

class Frame;
class FrameType;
class KTEAttributesController;
class KTEImagesController;
class KTEOutlineController;

namespace platform {
class ManagedObjectContext;
}

// What the frame editor's panes (outline, attribute table, graphics browser,
// export sheet) need of the window that holds them. The window implements it;
// tests of a single pane can give a small fake.
class KTFEWindowInterface
{
public:
    virtual ~KTFEWindowInterface() = default;

    // The frames store's main context; every edit goes through its undo manager.
    virtual platform::ManagedObjectContext *framesContext() const = 0;

    // The saved designs' context, to tell whether a frame is in use; none
    // when the application has no templates store.
    virtual platform::ManagedObjectContext *templatesContext() const { return nullptr; }

    virtual KTEOutlineController *outlineController() const = 0;
    virtual KTEAttributesController *attributesController() const = 0;
    virtual KTEImagesController *imagesController() const = 0;

    // The frame type pop-up's choice: the table sets it to the shown frame's
    // type, new frames take it.
    virtual FrameType *selectedFrameType() const = 0;
    virtual void setSelectedFrameType(FrameType *type) = 0;

    // Called by the outline when its selection changes.
    virtual void displayCollection(class FrameCollection *collection) = 0;
    virtual void displaySet(class FrameSet *set) = 0;
    virtual void displayFrame(Frame *frame) = 0;
    // Nothing is selected (or what was is out of sight): nothing is shown.
    virtual void displayNothing() {}

    // Redraws the preview with this frame around the sample picture.
    virtual void displayPreviewWithFrame(Frame *frame) = 0;
};
