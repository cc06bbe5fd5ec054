#pragma once

#include <QWidget>

class QVariantAnimation;

// Turns a frame by quarter turns: a person with a curved arrow beside it. A
// click on either turns the person a quarter turn clockwise, animated, and
// announces the new count of quarter turns.
class VLRotateView : public QWidget
{
    Q_OBJECT
public:
    explicit VLRotateView(QWidget *parent = nullptr);

    unsigned rotation() const { return m_rotation; }
    // The user's turn: stores and announces (rotationEdited).
    void setRotation(unsigned rotation);
    void rotate90degrees() { setRotation((m_rotation + 1) % 4); }
    // The model's value coming back: shown, not announced.
    void displayRotation(unsigned rotation, bool animate);

    // Degrees clockwise the person is drawn at now.
    double shownAngle() const { return m_shownAngle; }
    bool arrowPressed() const { return m_arrowPressed; }
    QRectF arrowRect() const;
    QRectF personRect() const;

    QSize sizeHint() const override { return {80, 40}; }

signals:
    void rotationEdited(unsigned rotation);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool isOnControl(const QPointF &point) const;

    unsigned m_rotation = 0;
    double m_shownAngle = 0;
    bool m_trackMouse = false;
    bool m_arrowPressed = false;
    QVariantAnimation *m_animation = nullptr;
};
