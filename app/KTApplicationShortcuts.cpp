#include "app/KTApplicationShortcuts.h"

#include "platform/ui/Application.h"
#include "platform/ui/Document.h"
#include "platform/ui/DocumentController.h"

#include <QShortcut>
#include <QUndoStack>
#include <QWidget>

namespace KTApplicationShortcuts {

void install(QWidget *window)
{
    if (!window || window->findChild<QShortcut *>(QStringLiteral("openDocumentShortcut")))
        return;
    auto *open = new QShortcut(QKeySequence::Open, window, [] {
        if (platform::DocumentController *documents = platform::DocumentController::sharedDocumentController(false))
            documents->openDocument();
    });
    open->setObjectName(QStringLiteral("openDocumentShortcut"));
    auto *quit = new QShortcut(QKeySequence::Quit, window, [] {
        if (platform::Application *application = platform::Application::shared())
            application->terminate();
    });
    quit->setObjectName(QStringLiteral("quitShortcut"));
    auto *undo = new QShortcut(QKeySequence::Undo, window, [] {
        platform::DocumentController *documents = platform::DocumentController::sharedDocumentController(false);
        platform::Document *document = documents ? documents->currentDocument() : nullptr;
        if (document && document->hasUndoManager())
            document->undoManager()->undo();
    });
    undo->setObjectName(QStringLiteral("undoShortcut"));
}

} // namespace KTApplicationShortcuts
