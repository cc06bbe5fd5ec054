#pragma once

#include "app/KTLayersPaletteClient.h"
#include "app/KTOverlayControlsInterface.h"
#include "kit/ui/KTImageView.h"
#include "kit/ui/XSViewController.h"

#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QStackedWidget>
#include <QTextEdit>
#include <QToolButton>

#include <memory>

class KTBoundControls;
class KTImageOverlayLayer;
class KTLayersPaletteController;
class KTTemplate;
class KTTextOverlayLayer;
class QUndoStack;

// The overlays panel: adds picture and text overlays to the design and
// edits the selected one. Two buttons switch between the picture and the
// text controls.
class KTOverlayControlsViewController : public XSViewController,
                                       public KTOverlayControlsInterface,
                                       public KTLayersPaletteClient
{
    Q_OBJECT
public:
    KTOverlayControlsViewController(const QString &nibName, platform::WindowController *windowController,
                                    QObject *parent = nullptr);
    ~KTOverlayControlsViewController() override;

    // KTOverlayControlsInterface
    void setCurrentOverlayType(int type) override;
    void setImageOverlayLayer(const std::shared_ptr<KTLayer> &layer) override;
    void setTextOverlayLayer(const std::shared_ptr<KTLayer> &layer) override;
    void toggleView() override;
    void setDocTemplate(const std::shared_ptr<KTTemplate> &design) override;
    // KTLayersPaletteClient
    void useLayersPaletteController(QObject *controller) override;
    void activateViewController() override;

    int currentOverlayType() const { return m_currentOverlayType; }
    void addImageOverlay();
    void addTextOverlay();
    // Replaces the picture of the overlay being edited (nothing for an empty path).
    void updateOverlayImageWithPath(const QString &path);
    void selectImage();
    // The placeholder of the menu entry with that tag goes in place of the selection.
    void insertTemplateText(long tag);
    void fontButtonPressed();
    void colorButtonClicked();

    std::shared_ptr<KTImageOverlayLayer> imageOverlayLayer() const { return m_imageOverlayLayer; }
    std::shared_ptr<KTTextOverlayLayer> textOverlayLayer() const { return m_textOverlayLayer; }
    QTextEdit *textView() const { return m_textView; }
    QComboBox *metadataPopUpButton() const { return m_metadataPopUpButton; }
    // Says why the last edit of the text was refused; hidden after one that was not.
    QLabel *limitNote() const { return m_limitNote; }
    KTImageView *imageOverlayWell() const { return m_imageOverlayWell; }
    void setUndoStack(QUndoStack *stack) { m_undoStack = stack; }
    QUndoStack *undoStack() const;

protected:
    QWidget *loadView() override;

private:
    KTLayersPaletteController *palette() const;
    void showControlsForOverlayType(int type);
    void selectActiveLayer();
    void fillMetadataMenu();
    void textEdited();
    void showOverlayText();
    // Applies a character format to the selection, or to all the text when nothing is selected.
    void applyToSelection(const std::function<void(QTextCharFormat &)> &change);

    int m_currentOverlayType = -1;
    std::shared_ptr<KTTemplate> m_docTemplate;
    QPointer<QObject> m_layersPaletteController;
    std::shared_ptr<KTImageOverlayLayer> m_imageOverlayLayer;
    std::shared_ptr<KTTextOverlayLayer> m_textOverlayLayer;
    KTBoundControls *m_imageControls;
    KTBoundControls *m_textControls;
    QPointer<QToolButton> m_imageButton;
    QPointer<QToolButton> m_textButton;
    QPointer<QStackedWidget> m_stack;
    QPointer<KTImageView> m_imageOverlayWell;
    QPointer<QTextEdit> m_textView;
    QPointer<QComboBox> m_metadataPopUpButton;
    QPointer<QLabel> m_limitNote;
    QPointer<QUndoStack> m_undoStack;
    QMetaObject::Connection m_textLayerConnection;
    bool m_showingText = false;
    int m_textSession = 0;
    bool m_typing = false;
};
