#pragma once

#include "platform/Error.h"
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
    // The framed picture as the export preferences make it (the size rule,
    // given the size shown on screen, and the quality), rendered off the main
    // thread and written to `url` in the format of the index (the preferred
    // one when negative); false with the reason when nothing was written.
    virtual bool writeFramedPicture(const QUrl &url, const QSizeF &lastDrawnSize, int formatIndex,
                                    platform::Error *error)
    {
        Q_UNUSED(url);
        Q_UNUSED(lastDrawnSize);
        Q_UNUSED(formatIndex);
        Q_UNUSED(error);
        return false;
    }
    // The same, for a drag out of the canvas or a share: written in a new
    // private temporary folder and named as the export preferences say;
    // empty when it could not be written.
    virtual QUrl writeFramedPictureFile(const QSizeF &lastDrawnSize, int formatIndex = -1,
                                        platform::Error *error = nullptr)
    {
        Q_UNUSED(lastDrawnSize);
        Q_UNUSED(formatIndex);
        Q_UNUSED(error);
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
