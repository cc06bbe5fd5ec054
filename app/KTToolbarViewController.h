#pragma once

#include "kit/ui/XSViewController.h"

#include <QImage>
#include <QPointer>
#include <QRectF>
#include <QStringList>

class KTToolbarViewControllerProtocol;
class QMouseEvent;

// A strip of icons with captions; one of them is selected. A click selects
// an icon only when the button is released over the icon it was pressed on.
class KTToolbarViewController : public XSViewController
{
    Q_OBJECT
public:
    static constexpr const char *kNibName = "ToolbarView";
    static constexpr quint64 kNone = quint64(-1);
    static constexpr double kIconStep = 80;
    static constexpr double kIconSide = 40;
    static constexpr double kIconRaise = 6;
    static constexpr double kCaptionLift = 2;
    static constexpr double kCaptionPointSize = 11;
    static constexpr double kPressedOpacity = 0.4;

    KTToolbarViewController(const QString &nibName, platform::WindowController *windowController,
                            QObject *parent = nullptr);
    ~KTToolbarViewController() override;

    void addIconWithNameAndIconText(const QString &imageName, const QString &text);
    void displayToolbar();

    QStringList iconTexts() const { return m_iconTexts; }
    QStringList iconImageNames() const { return m_iconImageNames; }
    quint64 selectedIcon() const { return m_selectedIcon; }
    // Moves the plate and tells the delegate, also when the owner sets it.
    void setSelectedIcon(quint64 index);

    KTToolbarViewControllerProtocol *delegate() const { return m_delegate; }
    void setDelegate(KTToolbarViewControllerProtocol *delegate) { m_delegate = delegate; }

    // Geometry in the view's coordinates.
    double iconOffset(quint64 index) const;
    QRectF iconRect(quint64 index) const;
    QRectF captionRect(quint64 index) const;
    QRectF plateRect(quint64 index) const;
    quint64 pressedIcon() const { return m_pressedIcon; }
    bool isPressed() const { return m_pressed; }
    double pressedPlateOpacity() const { return m_pressed ? kPressedOpacity : 0.0; }

    // The icon whose picture or caption is under the point, or kNone.
    quint64 layerWithEvent(const QPointF &point) const;

    void mouseDown(QMouseEvent *event);
    void mouseDragged(QMouseEvent *event);
    void mouseUp(QMouseEvent *event);

    void paint(QPainter &painter);

protected:
    QWidget *loadView() override;

private:
    QImage iconImage(quint64 index) const;

    QStringList m_iconTexts;
    QStringList m_iconImageNames;
    quint64 m_selectedIcon = kNone;
    quint64 m_pressedIcon = kNone;
    bool m_pressed = false;
    bool m_displayed = false;
    KTToolbarViewControllerProtocol *m_delegate = nullptr;
};
