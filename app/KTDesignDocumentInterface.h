#pragma once

#include "platform/ui/WindowController.h"

#include <QObject>
#include <QSizeF>
#include <QUrl>

#include <memory>

class KTTemplate;

// What a document window's controllers ask of the document they show: its
// design, a new photo for it, and the word that the window is ready. The
// document implements it; the controllers never see the document's class.
class KTDesignDocumentInterface
{
public:
    virtual ~KTDesignDocumentInterface() = default;
    virtual std::shared_ptr<KTTemplate> docTemplate() const = 0;
    // Answers whether the design took the picture.
    virtual bool importImage(const QUrl &url) = 0;
    // Still the untitled start-up document on its start-up picture.
    virtual bool isDefaultImage() const { return false; }
    // Puts another design's settings and layers around the photo.
    virtual void replaceTemplateWith(const std::shared_ptr<KTTemplate> &) {}
    // The framed picture written for a drag out of the canvas, in a new
    // temporary folder, named and sized as the export defaults say; empty
    // when it could not be written.
    virtual QUrl writeDragOutFile(const QSizeF &lastDrawnSize)
    {
        Q_UNUSED(lastDrawnSize);
        return {};
    }
    // The window is ready: the photo goes in, then change tracking starts.
    virtual void windowControllerDidLoadNib(platform::WindowController *controller) = 0;

    static KTDesignDocumentInterface *fromObject(QObject *object)
    {
        return dynamic_cast<KTDesignDocumentInterface *>(object);
    }
    // The document a window controller shows, when it is a design document.
    static KTDesignDocumentInterface *ofWindowController(const platform::WindowController *controller)
    {
        return controller ? fromObject(controller->document()) : nullptr;
    }
};
