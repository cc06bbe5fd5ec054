#pragma once

#include "frameeditor/KTFEPreviewView.h"
#include "frameeditor/KTFEWindowInterface.h"
#include "platform/ui/WindowController.h"

#include <QList>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>

class LibraryItem;
class QAction;
class QWidget;

// The frame editor's window: the library outline on the left; the frame type
// pop-up, the attribute table and the preview of the selected frame on the
// right, the library's graphics below them. It wires the panes together,
// undoes through the frames context's undo manager and reloads every pane
// after an undo or redo.
class KTFEWindowController : public platform::WindowController, public KTFEWindowInterface
{
    Q_OBJECT
public:
    static constexpr const char *kWindowName = "FrameEditorWindow";
    static constexpr const char *kAutosaveName = "FramedEditorWindow";
    static constexpr const char *kTitle = "Frame Editor";

    explicit KTFEWindowController(platform::ManagedObjectContext *framesContext, QObject *parent = nullptr);
    ~KTFEWindowController() override;

    platform::ManagedObjectContext *framesContext() const override { return m_framesContext; }
    platform::ManagedObjectContext *templatesContext() const override { return m_templatesContext; }
    void setTemplatesContext(platform::ManagedObjectContext *context) { m_templatesContext = context; }

    KTEOutlineController *outlineController() const override { return m_outlineController; }
    KTEAttributesController *attributesController() const override { return m_attributesController; }
    KTEImagesController *imagesController() const override { return m_imagesController; }

    FrameType *selectedFrameType() const override;
    void setSelectedFrameType(FrameType *type) override;

    void displayCollection(FrameCollection *collection) override;
    void displaySet(FrameSet *set) override;
    void displayNothing() override;
    void displayFrame(Frame *frame) override;
    void displayPreviewWithFrame(Frame *frame) override;

    // Shows a collection, set or frame: the outline closes everything but
    // the item's own collection and set, and selects it.
    void displayObject(LibraryItem *item);
    // At quit: the graphics files of pictures removed from the library go.
    void cleanupBeforeTermination();

    QComboBox *frameTypePopUpButton() const { return m_frameTypePopUp; }
    KTFEPreviewView *previewView() const { return m_previewView; }
    QLineEdit *imagesSearchField() const { return m_imagesSearchField; }
    QAction *undoAction() const { return m_undoAction; }
    QAction *redoAction() const { return m_redoAction; }

protected:
    QWidget *loadWindow() override;
    void windowDidLoad() override;
    void windowWillClose() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void didUndoOrRedo();
    void windowDidBecomeKey();
    void reloadFrameTypes();
    void updateUndoActions();
    // The frame shown now, if the outline's selection is one.
    Frame *selectedFrame() const;

    platform::ManagedObjectContext *m_framesContext;
    platform::ManagedObjectContext *m_templatesContext = nullptr;
    KTEOutlineController *m_outlineController;
    KTEAttributesController *m_attributesController;
    KTEImagesController *m_imagesController;
    QPointer<QComboBox> m_frameTypePopUp;
    QPointer<QWidget> m_frameTypeRow;
    QPointer<QLineEdit> m_imagesSearchField;
    QPointer<QWidget> m_attributesArea;
    QPointer<KTFEPreviewView> m_previewView;
    QPointer<QWidget> m_imagesArea;
    QPointer<QAction> m_undoAction;
    QPointer<QAction> m_redoAction;
    QList<FrameType *> m_frameTypes;
};
