#include "kit/ui/VLTextPopover.h"

#include <QFontMetrics>
#include <QPainter>
#include <QWidget>

namespace VLTextPopover {

namespace {
class TextPopup : public QWidget
{
public:
    TextPopup(const QString &text, QWidget *parent)
        : QWidget(parent, Qt::Popup)
        , m_text(text)
    {
        setAttribute(Qt::WA_DeleteOnClose);
        setObjectName(QStringLiteral("VLTextPopover"));
        const QSize textSize = QFontMetrics(font()).size(0, m_text);
        setFixedSize(textSize + QSize(30, 20));
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().window());
        painter.setPen(palette().color(QPalette::WindowText));
        const QSize textSize = QFontMetrics(font()).size(0, m_text);
        painter.drawText(QRect(QPoint(15, 10), textSize), Qt::AlignLeft | Qt::AlignTop, m_text);
    }

private:
    QString m_text;
};
} // namespace

QWidget *displayPopoverWithText(const QString &text, QWidget *view, Edge edge, const QRect &rect)
{
    if (!view)
        return nullptr;
    const QRect anchor = rect.isEmpty() ? view->rect() : rect;
    auto *popup = new TextPopup(text, view);
    const QSize size = popup->size();
    QPoint topLeft;
    switch (edge) {
    case Edge::Left:
        topLeft = QPoint(anchor.left() - size.width(), anchor.center().y() - size.height() / 2);
        break;
    case Edge::Right:
        topLeft = QPoint(anchor.right() + 1, anchor.center().y() - size.height() / 2);
        break;
    case Edge::Top:
        topLeft = QPoint(anchor.center().x() - size.width() / 2, anchor.top() - size.height());
        break;
    case Edge::Bottom:
        topLeft = QPoint(anchor.center().x() - size.width() / 2, anchor.bottom() + 1);
        break;
    }
    // The client area goes at the point (move() would place the frame there).
    popup->setGeometry(QRect(view->mapToGlobal(topLeft), size));
    popup->show();
    return popup;
}

} // namespace VLTextPopover
