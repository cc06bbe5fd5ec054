#pragma once

#include "app/KTLayersPaletteClient.h"
#include "kit/ui/XSViewController.h"

#include <QPointer>

class KTBoundControls;
class KTLayer;
class KTLayersPaletteController;
class KTPanelSlider;
class QBoxLayout;
class QCheckBox;
class QUndoStack;
class QVBoxLayout;
class VLColorWell;
class VLRotateView;

// The settings panel of the selected layer, built in code. Its controls are
// bound to the layer's properties: they follow the layer's changes, and
// every edit is a step of the document's undo stack.
class KTLayerPanelController : public XSViewController, public KTLayersPaletteClient
{
    Q_OBJECT
public:
    KTLayerPanelController(const QString &nibName, platform::WindowController *windowController,
                           QObject *parent = nullptr);

    KTLayer *layer() const;
    KTLayersPaletteController *layersPaletteController() const;
    void useLayersPaletteController(QObject *controller) override;
    void setRepresentedObject(const QVariant &object) override;
    // The panel was opened: its layer becomes the selected one.
    void activateViewController() override;
    KTBoundControls *controls() const { return m_controls; }
    // The palette's undo stack, else the window document's.
    QUndoStack *undoStack() const;

    // Makes the four panel classes, the design settings and the overlay controls known to KTControllerRegistry.
    static void registerControllers();

protected:
    QWidget *loadView() override;
    virtual void buildControls(QVBoxLayout *layout) = 0;
    virtual void layerWasSet() {}

    // Colourise, turn, saturation, lightness, opacity, shadow.
    void addFrameColorControls(QVBoxLayout *layout);
    void activateColorWell();
    void addEyedropper(QBoxLayout *row, VLColorWell *well);
    void performLayout() override { activateColorWell(); }

    KTBoundControls *m_controls = nullptr;
    QPointer<VLColorWell> m_colorizeColorWell;
    QPointer<VLRotateView> m_rotateView;

private:
    QPointer<QObject> m_layersPaletteController;
};

// Inverts a lock while Alt is held: the photo's crops, the mat's widths.
class KTAltLock : public QObject
{
    Q_OBJECT
public:
    KTAltLock(bool locked, QObject *parent);
    ~KTAltLock() override;
    bool lockSliders() const { return m_lockSliders; }
    void setLockSliders(bool locked);
    bool altWasPressed() const { return m_altWasPressed; }

signals:
    void lockChanged(bool locked);

private:
    void altState(bool down);

    bool m_lockSliders;
    bool m_altWasPressed = false;
    quint64 m_observer = 0;
};

class KTFullFrameLayerPanelController : public KTLayerPanelController
{
    Q_OBJECT
public:
    using KTLayerPanelController::KTLayerPanelController;

protected:
    void buildControls(QVBoxLayout *layout) override;
};

class KTMoldingFrameLayerPanelController : public KTLayerPanelController
{
    Q_OBJECT
public:
    using KTLayerPanelController::KTLayerPanelController;

protected:
    void buildControls(QVBoxLayout *layout) override;
};

class KTImageLayerPanelController : public KTLayerPanelController
{
    Q_OBJECT
public:
    KTImageLayerPanelController(const QString &nibName, platform::WindowController *windowController,
                                QObject *parent = nullptr);
    KTAltLock *lock() const { return m_lock; }
    // The left crop moved: with the lock on, all four follow, at most 0.475 each.
    void cropLeftMoved(double value, bool continuing);

protected:
    void buildControls(QVBoxLayout *layout) override;

private:
    KTAltLock *m_lock;
};

class KTColorMatFrameLayerPanelController : public KTLayerPanelController
{
    Q_OBJECT
public:
    KTColorMatFrameLayerPanelController(const QString &nibName, platform::WindowController *windowController,
                                        QObject *parent = nullptr);
    KTAltLock *lock() const { return m_lock; }
    // The left width moved: with the lock on, all four widths follow.
    void leftSliderMoved(double value, bool continuing);

protected:
    void buildControls(QVBoxLayout *layout) override;
    void layerWasSet() override;

private:
    KTAltLock *m_lock;
    QPointer<VLColorWell> m_matColorWell;
    QColor m_shownMatColor;
};
