#pragma once

#include <QRect>
#include <QString>

class QWidget;

// The kit utilities' transient text popover: a small popup next to a
// rectangle of a view, gone at the next click elsewhere.
namespace VLTextPopover {

enum class Edge { Left, Top, Right, Bottom };

// Shows `text` beside `rect` (in `view`'s coordinates; an empty rectangle
// means the view's bounds) on `edge`. The content is the text's size plus 30
// by 20, the text drawn 15 in and 10 down. Answers the popup, which deletes
// itself when closed.
QWidget *displayPopoverWithText(const QString &text, QWidget *view, Edge edge, const QRect &rect);

} // namespace VLTextPopover
