#pragma once

#include "platform/Error.h"
#include "platform/ui/WindowController.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>

class QUndoStack;
class QWidget;

namespace platform {

// A document: a file URL and type, a display name, a change count, an undo
// stack, reading from and writing to a URL, the windows that show it, and
// the question whether to save before it closes.
class Document : public QObject, public WindowDocument
{
    Q_OBJECT
public:
    enum class ChangeKind { Done, Undone, Redone, Cleared };

    explicit Document(QObject *parent = nullptr);
    ~Document() override;

    QUrl fileURL() const { return m_fileURL; }
    virtual void setFileURL(const QUrl &url);
    QString fileType() const { return m_fileType; }
    virtual void setFileType(const QString &type);

    // The file's name, or "Untitled" ("Untitled 2", ... for later ones).
    QString displayName() const;
    void setUntitledNumber(int number);
    int untitledNumber() const { return m_untitledNumber; }

    void updateChangeCount(ChangeKind kind);
    int changeCount() const { return m_changeCount; }
    bool isDocumentEdited() const { return m_changeCount != 0; }

    // Made on first use, or earlier with setHasUndoManager(true).
    QUndoStack *undoManager();
    bool hasUndoManager() const { return m_undo != nullptr; }
    void setHasUndoManager(bool has);

    // Reading checks (and may take) the file's content; false with an error
    // when it cannot be used.
    virtual bool readFromURL(const QUrl &url, const QString &type, Error *error);
    // Writes the document to the URL; the base writes nothing and says so.
    virtual bool writeToURL(const QUrl &url, const QString &type, Error *error);

    // Window controllers, owned by the document.
    virtual void makeWindowControllers() {}
    void addWindowController(WindowController *controller);
    void removeWindowController(WindowController *controller);
    QList<WindowController *> windowControllers() const;
    void showWindows();
    // The window sheets and panels attach to.
    QWidget *windowForSheet() const;

    // Save: to the file URL when there is one, else through the save panel.
    virtual bool saveDocument(Error *error);
    virtual bool saveDocumentAs(Error *error);
    // The types a save may choose; the base offers the document's own type.
    virtual QStringList writableTypes() const;

    // Asks, when the document is edited, whether to save it ("Save",
    // "Cancel", "Don't Save") and saves when told. Answers whether it may
    // close. A failed save is presented and keeps it open.
    virtual bool canClose();
    // Closes the windows and leaves the document controller; the document
    // is deleted on the next pass of the event loop.
    virtual void close();
    bool isClosing() const { return m_closing; }

    bool windowShouldClose(WindowController *window) override;
    void windowWillClose(WindowController *window) override;

signals:
    void documentEditedChanged(bool edited);
    // The document is closing: its controller lets it go.
    void closing();
    void fileURLChanged(const QUrl &url);
    void displayNameChanged();

protected:
    void updateWindowTitles();

private:
    QUrl m_fileURL;
    QString m_fileType;
    int m_untitledNumber = 0;
    int m_changeCount = 0;
    QUndoStack *m_undo = nullptr;
    QList<QPointer<WindowController>> m_windowControllers;
    bool m_closing = false;
};

} // namespace platform
