#pragma once

#include <QIcon>
#include <QPushButton>

#include <functional>
#include <optional>

// A button that shows a hover image while the pointer is inside it, running
// an enter block when the hover image goes up and an exit block when the
// button goes back to normal.
class VLHoverButton : public QPushButton
{
    Q_OBJECT
public:
    explicit VLHoverButton(QWidget *parent = nullptr);
    ~VLHoverButton() override;

    using HoverBlock = std::function<void()>;
    void setHoverEnterBlock(HoverBlock block) { m_hoverEnterBlock = std::move(block); }
    void setHoverExitBlock(HoverBlock block) { m_hoverExitBlock = std::move(block); }

    QIcon hoverImage() const { return m_hoverImage; }
    void setHoverImage(const QIcon &image) { m_hoverImage = image; }

    // The image shown now (the button's icon).
    QIcon image() const { return icon(); }
    void setImage(const QIcon &image) { setIcon(image); }

    // Whether enter and leave are followed (never while hidden).
    bool hasTrackingArea() const { return m_tracking; }

    // Re-derives the look from where the pointer is and renews tracking.
    void updateTrackingAreas();
    void displayHover();
    void displayNormal();

    // Whether the pointer is inside the button now.
    bool mouseInside() const;

    void setVisible(bool visible) override;

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    HoverBlock m_hoverEnterBlock;
    HoverBlock m_hoverExitBlock;
    QIcon m_hoverImage;
    std::optional<QIcon> m_previousImage;
    bool m_tracking = false;
    bool m_pointerInside = false;
};
