#include "programs/kantelo/WindowControllers.h"

#include "app/AppDelegate.h"
#include "app/KTControllerRegistry.h"
#include "app/XSDocumentWindowController.h"
#include "editor/KTDesignViewController.h"
#include "editor/KTLayerPanelController.h"
#include "editor/KTLayersPaletteController.h"
#include "editor/KTTemplatesViewController.h"
#include "library/KTLibraryViewController.h"

namespace kantelo {

void registerWindowControllers()
{
    // The window learns of its layers palette controller while its views are being built.
    KTControllerRegistry::registerClass(
        QStringLiteral("KTDesignViewController"),
        [](const QString &nibName, platform::WindowController *windowController, QObject *parent) {
            auto *canvas = new KTDesignViewController(nibName, windowController, parent);
            if (auto *window = qobject_cast<XSDocumentWindowController *>(windowController))
                window->setLayersPaletteController(canvas->layersPaletteController());
            return canvas;
        });
    KTControllerRegistry::registerClass(
        QStringLiteral("KTLibraryViewController"),
        [](const QString &nibName, platform::WindowController *windowController, QObject *parent) {
            auto *library = new KTLibraryViewController(nibName, windowController, parent);
            // "More frames" and "Show in Frame Editor" go to the application delegate.
            library->setMoreFramesTarget(AppDelegate::shared());
            return library;
        });
    KTLayerPanelController::registerControllers();
    KTTemplatesViewController::registerControllers();
}

} // namespace kantelo
