#pragma once

#include <QWidget>

// Sets the design's shadow: the user drags a cross-hair away from the
// centre. The direction is the angle in degrees (0 up, growing clockwise),
// the distance the offset, up to `maxOffset` points.
class JoystickView : public QWidget
{
    Q_OBJECT
public:
    explicit JoystickView(QWidget *parent = nullptr);

    double angle() const { return m_angle; }
    void setAngle(double degrees);
    double offset() const { return m_offset; }
    void setOffset(double points);
    double maxOffset() const { return m_maxOffset; }
    // Refused (false) unless greater than zero.
    bool setMaxOffset(double points);
    // Without a model to edit the view is dark and takes no clicks.
    bool hasSelection() const { return m_hasSelection; }
    void setHasSelection(bool has);

    QSize sizeHint() const override { return {100, 100}; }

signals:
    // The user moved the cross-hair: degrees, and the offset as a fraction of the reach.
    void edited(double angle, double offsetFraction, bool starts);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void updateForPoint(const QPointF &point, bool starts);

    double m_angle = 28.0;
    double m_offset = 0.0;
    double m_maxOffset;
    bool m_hasSelection = false;
    bool m_mouseDown = false;
};
