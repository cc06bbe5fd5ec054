#pragma once

#include "platform/NotificationCenter.h"

#include <QWidget>

#include <memory>

class Frame;
class KTTemplate;
class QTimer;

// The frame editor's preview: the chosen frame drawn around a fixed sample
// picture, under a caption. Its design holds, from the outside in, the
// caption, at most one frame layer and the picture.
class KTFEPreviewView : public QWidget
{
    Q_OBJECT
public:
    static constexpr const char *kObjectName = "previewView";
    static constexpr const char *kSamplePictureName = "FramePreviewImage";
    static constexpr const char *kSamplePictureExtension = "jpg";
    static constexpr const char *kCaption = "Frame preview";
    static constexpr double kCaptionScale = 0.25;
    static constexpr double kCaptionFontSize = 12.0;
    static constexpr double kCaptionWhite = 1.0;
    static constexpr double kCaptionAlpha = 0.6;
    // A resize counts as live while further resizes follow within this time.
    static constexpr int kResizeSettleMs = 200;

    explicit KTFEPreviewView(QWidget *parent = nullptr);
    ~KTFEPreviewView() override;

    std::shared_ptr<KTTemplate> previewTemplate() const { return m_previewTemplate; }

    // Puts the frame's layer into the preview in place of the one shown; a
    // frame whose type makes no layer leaves the preview as it is.
    void displayPreviewWithFrame(Frame *frame);

    // While the window is being resized the preview draws at low quality,
    // then once more at high quality when the resizing stops.
    bool inLiveResize() const { return m_inLiveResize; }
    // Whether the last drawing was at high quality.
    bool lastDrawingWasHighQuality() const { return m_lastDrawingHighQuality; }

    QSize sizeHint() const override { return {360, 280}; }

signals:
    // After each drawing.
    void drawn();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void setUpPreview();

    std::shared_ptr<KTTemplate> m_previewTemplate;
    QList<platform::NotificationCenter::ObserverId> m_observers;
    QTimer *m_resizeSettled = nullptr;
    bool m_inLiveResize = false;
    bool m_lastDrawingHighQuality = false;
};
