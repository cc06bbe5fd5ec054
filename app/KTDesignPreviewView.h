#pragma once

#include "platform/NotificationCenter.h"

#include <QWidget>

#include <memory>

class KTTemplate;

// Draws the design fitted into the view on the canvas background, and
// redraws when the design announces a change.
class KTDesignPreviewView : public QWidget
{
    Q_OBJECT
public:
    explicit KTDesignPreviewView(QWidget *parent = nullptr);
    ~KTDesignPreviewView() override;

    std::shared_ptr<KTTemplate> docTemplate() const { return m_docTemplate; }
    void setDocTemplate(const std::shared_ptr<KTTemplate> &docTemplate);
    // The share of the view the framed design fills ("DesignViewZoomLevel").
    double zoom() const { return m_zoom; }
    void setZoom(double zoom);
    // An invalid colour keeps the default dark ground.
    void setBackgroundColor(const QColor &color);

    QSize sizeHint() const override { return {800, 600}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void stopObserving();

    std::shared_ptr<KTTemplate> m_docTemplate;
    double m_zoom = 0.9;
    QColor m_backgroundColor;
    QList<platform::NotificationCenter::ObserverId> m_observers;
};
