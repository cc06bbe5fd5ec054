#pragma once

#include <QColor>
#include <QObject>

// How one window's canvas presents its design: the zoom (the share of the
// canvas the design fills) and the background colour. Every set of either
// announces viewStateChanged, even with an unchanged value, so re-setting the
// zoom redraws the canvas.
class KTViewState : public QObject
{
    Q_OBJECT
    Q_PROPERTY(double zoom READ zoom WRITE setZoom NOTIFY viewStateChanged)
    Q_PROPERTY(QColor backgroundColor READ backgroundColor WRITE setBackgroundColor NOTIFY viewStateChanged)

public:
    static constexpr double kMinimumZoom = 0.3;
    static constexpr double kMaximumZoom = 1.0;
    static constexpr double kInitialZoom = 0.9;

    KTViewState();
    ~KTViewState() override;

    double zoom() const { return m_zoom; }
    // Clamped to 0.3 ... 1.0; a value that is no number keeps the zoom.
    void setZoom(double zoom);
    QColor backgroundColor() const { return m_backgroundColor; }
    void setBackgroundColor(const QColor &color);

signals:
    void viewStateChanged();

private:
    double m_zoom = kInitialZoom;
    QColor m_backgroundColor;
};
