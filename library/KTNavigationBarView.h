#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QPainterPath>
#include <QStringList>
#include <QWidget>

class KTNavigationBarViewProtocol;

// A bar of arrow-shaped segments, one per level the library panel drills
// through. One segment is active; pressing another and releasing the mouse
// over it makes it active and tells the delegate. The bar draws everything
// itself and keeps the outlines it drew for hit testing.
class KTNavigationBarView : public QWidget
{
    Q_OBJECT

public:
    static constexpr qint64 kNoComponent = -1;
    static constexpr double kFirstPad = 18.0;
    static constexpr double kPad = 15.0;
    static constexpr double kTextTrail = 6.0;
    static constexpr double kPointWidth = 8.0;

    explicit KTNavigationBarView(QWidget *parent = nullptr);
    ~KTNavigationBarView() override;

    QStringList componentsArray() const { return m_componentsArray; }
    void addComponent(const QString &title);
    void replaceComponentAtIndex(qsizetype index, const QString &title);

    qint64 activeComponent() const { return m_activeComponent; }
    // Stores and redraws; the delegate is not told.
    void setActiveComponent(qint64 component);
    bool isEnabledForMouse() const { return m_enabled; }
    void setEnabledForMouse(bool enabled) { m_enabled = enabled; }
    KTNavigationBarViewProtocol *delegate() const { return m_delegate; }
    void setDelegate(KTNavigationBarViewProtocol *delegate) { m_delegate = delegate; }

    // The first component whose last drawn outline holds the point (the
    // bar's own coordinates); none before the first drawing.
    qint64 componentForPoint(const QPointF &point) const;

    bool pressed() const { return m_pressed; }
    qint64 pressedComponent() const { return m_pressedComponent; }
    const QList<QPainterPath> &bezierPaths() const { return m_bezierPaths; }

    QColor gradientTopColor, gradientBottomColor;
    QColor pressedGradientTopColor, pressedGradientBottomColor;
    QColor activeGradientTopColor, activeGradientBottomColor;
    QColor borderColor, inactiveTextColor, activeTextColor;
    QFont textFont;

    QSize sizeHint() const override { return {260, 22}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QStringList m_componentsArray;
    qint64 m_activeComponent = 0;
    QList<QPainterPath> m_bezierPaths;
    bool m_pressed = false;
    qint64 m_pressedComponent = kNoComponent;
    bool m_enabled = true;
    KTNavigationBarViewProtocol *m_delegate = nullptr;
};
