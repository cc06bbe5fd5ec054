#include "platform/ui/Document.h"

#include "platform/Alert.h"
#include "platform/ui/FilePanels.h"
#include "platform/ui/MessageBoxPresenter.h"

#include <QFileInfo>
#include <QUndoStack>
#include <QWidget>

namespace platform {

namespace {
const char *const kUntitled = "Untitled";
}

Document::Document(QObject *parent)
    : QObject(parent)
{
}

Document::~Document() = default;

void Document::setFileURL(const QUrl &url)
{
    if (m_fileURL == url)
        return;
    m_fileURL = url;
    emit fileURLChanged(url);
    emit displayNameChanged();
    updateWindowTitles();
}

void Document::setFileType(const QString &type)
{
    m_fileType = type;
}

QString Document::displayName() const
{
    if (m_fileURL.isLocalFile())
        return QFileInfo(m_fileURL.toLocalFile()).fileName();
    if (!m_fileURL.isEmpty())
        return m_fileURL.fileName();
    if (m_untitledNumber > 1)
        return QStringLiteral("%1 %2").arg(QLatin1String(kUntitled)).arg(m_untitledNumber);
    return QString::fromLatin1(kUntitled);
}

void Document::setUntitledNumber(int number)
{
    m_untitledNumber = number;
    emit displayNameChanged();
    updateWindowTitles();
}

void Document::updateChangeCount(ChangeKind kind)
{
    const bool wasEdited = isDocumentEdited();
    switch (kind) {
    case ChangeKind::Done:
    case ChangeKind::Redone:
        ++m_changeCount;
        break;
    case ChangeKind::Undone:
        --m_changeCount;
        break;
    case ChangeKind::Cleared:
        m_changeCount = 0;
        break;
    }
    if (wasEdited != isDocumentEdited()) {
        updateWindowTitles();
        emit documentEditedChanged(isDocumentEdited());
    }
}

QUndoStack *Document::undoManager()
{
    if (!m_undo)
        setHasUndoManager(true);
    return m_undo;
}

void Document::setHasUndoManager(bool has)
{
    if (has == (m_undo != nullptr))
        return;
    if (!has) {
        delete m_undo;
        m_undo = nullptr;
        return;
    }
    m_undo = new QUndoStack(this);
    // Undoing back to the saved state leaves the document unedited.
    connect(m_undo, &QUndoStack::indexChanged, this, [this] {
        if (m_undo->isClean())
            updateChangeCount(ChangeKind::Cleared);
    });
}

bool Document::readFromURL(const QUrl &url, const QString &, Error *error)
{
    if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isReadable())
        return true;
    if (error)
        *error = Error{QString::fromLatin1(kKanteloErrorDomain), 1,
                       QStringLiteral("The file “%1” couldn’t be opened.").arg(url.fileName()), {}, {}};
    return false;
}

bool Document::writeToURL(const QUrl &url, const QString &, Error *error)
{
    if (error)
        *error = Error{QString::fromLatin1(kKanteloErrorDomain), 1,
                       QStringLiteral("The document “%1” couldn’t be saved.").arg(url.fileName()), {}, {}};
    return false;
}

void Document::addWindowController(WindowController *controller)
{
    if (!controller || windowControllers().contains(controller))
        return;
    controller->setParent(this);
    controller->setDocument(this);
    m_windowControllers.append(controller);
    updateWindowTitles();
}

void Document::removeWindowController(WindowController *controller)
{
    m_windowControllers.removeAll(controller);
}

QList<WindowController *> Document::windowControllers() const
{
    QList<WindowController *> out;
    for (const auto &controller : m_windowControllers) {
        if (controller)
            out.append(controller.data());
    }
    return out;
}

void Document::showWindows()
{
    for (WindowController *controller : windowControllers())
        controller->showWindow();
    updateWindowTitles();
}

QWidget *Document::windowForSheet() const
{
    for (WindowController *controller : windowControllers()) {
        if (controller->isWindowLoaded() && controller->window())
            return controller->window();
    }
    return nullptr;
}

void Document::updateWindowTitles()
{
    for (WindowController *controller : windowControllers()) {
        if (!controller->isWindowLoaded() || !controller->window())
            continue;
        QWidget *window = controller->window();
        window->setWindowTitle(displayName() + QStringLiteral("[*]"));
        window->setWindowModified(isDocumentEdited());
    }
}

QStringList Document::writableTypes() const
{
    return m_fileType.isEmpty() ? QStringList() : QStringList{m_fileType};
}

bool Document::saveDocument(Error *error)
{
    if (m_fileURL.isEmpty())
        return saveDocumentAs(error);
    if (!writeToURL(m_fileURL, m_fileType, error))
        return false;
    updateChangeCount(ChangeKind::Cleared);
    if (m_undo)
        m_undo->setClean();
    return true;
}

bool Document::saveDocumentAs(Error *error)
{
    SavePanelRequest request;
    request.nameFieldValue = displayName();
    request.allowedTypes = writableTypes();
    request.parent = windowForSheet();
    if (m_fileURL.isLocalFile())
        request.directory = QFileInfo(m_fileURL.toLocalFile()).absolutePath();
    const QUrl url = runSavePanel(request);
    if (url.isEmpty()) {
        if (error)
            *error = Error{}; // cancelled: nothing to report
        return false;
    }
    if (!writeToURL(url, m_fileType, error))
        return false;
    setFileURL(url);
    updateChangeCount(ChangeKind::Cleared);
    if (m_undo)
        m_undo->setClean();
    return true;
}

bool Document::canClose()
{
    if (!isDocumentEdited())
        return true;
    AlertRequest request;
    request.messageText = QStringLiteral("Do you want to save the changes made to the document “%1”?").arg(displayName());
    request.informativeText = QStringLiteral("Your changes will be lost if you don’t save them.");
    request.buttons = {QStringLiteral("Save"), QStringLiteral("Cancel"), QStringLiteral("Don’t Save")};
    const AlertWindowScope over(windowForSheet());
    switch (runAlert(request)) {
    case 0: {
        Error error;
        if (saveDocument(&error))
            return true;
        if (!error.isNull())
            presentError(error);
        return false;
    }
    case 2:
        return true;
    default:
        return false;
    }
}

void Document::close()
{
    if (m_closing)
        return;
    m_closing = true;
    for (WindowController *controller : windowControllers()) {
        if (controller->isWindowLoaded() && controller->window())
            controller->window()->hide();
    }
    emit closing();
    deleteLater();
}

bool Document::windowShouldClose(WindowController *window)
{
    if (m_closing)
        return true;
    for (WindowController *other : windowControllers()) {
        if (other != window && other->isWindowLoaded() && other->window() && other->window()->isVisible())
            return true; // another window still shows the document
    }
    return canClose();
}

void Document::windowWillClose(WindowController *window)
{
    for (WindowController *other : windowControllers()) {
        if (other != window && other->isWindowLoaded() && other->window() && other->window()->isVisible())
            return;
    }
    close();
}

} // namespace platform
