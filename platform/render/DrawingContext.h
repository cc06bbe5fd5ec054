#pragma once

#include "platform/imaging/ColorMatch.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>

#include <functional>
#include <memory>
#include <vector>

namespace platform {

// The graphics context the design model draws into: a QPainter whose world
// space is y-up (origin at the lower left), so the model's geometry and
// formulas hold as written. Pictures and text, which Qt lays out y-down, are
// drawn through helpers that flip back locally.
//
// A context makes itself the current one of its thread for its lifetime, as
// the model's drawing operations draw "into the current context" and take no
// context argument. Contexts nest; the innermost one is current.
//
// Colours (taken as sRGB) and shadows drawn through a context are matched to
// its colour space; pictures are matched by whoever prepares them
// (`colorMatch()`), so the photo's own pixels pass untouched.
class DrawingContext
{
public:
    // Draws into `target`, which must be Format_ARGB32_Premultiplied (or
    // another format QPainter supports). The y-up space spans the image's
    // height in pixels; the image's colour space is the one drawn in.
    explicit DrawingContext(QImage &target);
    // Draws through a painter someone else set up (a widget's, a PDF's).
    // `height` is the height of the y-up space in the painter's current
    // coordinates; the painter's state is saved now and restored at the end.
    // It draws in the colour space of the context it is made inside of.
    DrawingContext(QPainter &painter, double height);
    ~DrawingContext();

    DrawingContext(const DrawingContext &) = delete;
    DrawingContext &operator=(const DrawingContext &) = delete;

    // The innermost context of the calling thread, or null.
    static DrawingContext *current();

    QPainter &painter() { return *m_painter; }
    double height() const { return m_height; }

    // The scale from y-up units to device pixels (1 for a plain image).
    double deviceScale() const;

    // How colours and pictures are matched to the colour space drawn in;
    // null when they are drawn as they are.
    const std::shared_ptr<const ColorMatch> &colorMatch() const { return m_match; }
    void setColorMatch(std::shared_ptr<const ColorMatch> match) { m_match = std::move(match); }
    // `color` as this context draws it.
    QColor matchedColor(const QColor &color) const { return m_match ? m_match->color(color) : color; }

    // Graphics state: painter state plus the shadow set in it.
    void saveGState();
    void restoreGState();

    void clipToRect(const QRectF &rect);
    void clipToPath(const QPainterPath &path);
    // The clip in y-up coordinates, intersected with the canvas; the whole
    // canvas when nothing clips.
    QRectF clipBoundingRect() const;

    void setOpacity(double alpha);
    double opacity() const;
    void setCompositionMode(QPainter::CompositionMode mode);
    // Whether a mode other than source-over was set: what was drawn may then
    // have made opaque pixels less so.
    bool usedOtherModes() const { return m_otherModes; }

    void fillRect(const QRectF &rect, const QColor &color);
    void fillPath(const QPainterPath &path, const QBrush &brush);
    void strokePath(const QPainterPath &path, const QPen &pen);
    void strokeRect(const QRectF &rect, const QColor &color, double lineWidth = 1.0);

    // Draws `image` upright into the y-up `rect` (its top row at the rect's
    // high y). `source` picks a part of the picture in its own pixel space
    // (y-down, as QImage has it); an empty source means the whole picture.
    void drawImage(const QRectF &rect, const QImage &image, const QRectF &source = QRectF());

    // Runs `draw` in a local y-down space in which `rect` (given y-up) is the
    // rect (rect.x, 0, rect.width, rect.height) with its top at 0: for text
    // layout and other y-down drawing. The painter's state is restored after.
    void drawFlipped(const QRectF &rect, const std::function<void(QPainter &, const QRectF &)> &draw);

    // A drop shadow for what is drawn next: colour, offset (y-up: positive y
    // moves the shadow up) and blur radius in y-up units. Saved and restored
    // with the graphics state. shadowColor() answers the colour as matched.
    void setShadow(const QColor &color, const QPointF &offset, double blur);
    void clearShadow();
    bool hasShadow() const;
    QColor shadowColor() const;
    QPointF shadowOffset() const;
    double shadowBlur() const;

    // Everything drawn between begin and end is composited as one picture
    // (with the shadow and opacity that were set at begin). Without a shadow
    // engine present, drawing passes straight through.
    void beginTransparencyLayer();
    void endTransparencyLayer();
    int transparencyLayerDepth() const;

    // y-up rect to the painter's device rect (for tests and engines).
    QRectF deviceRectFor(const QRectF &rect) const;

private:
    struct ShadowState {
        bool set = false;
        QColor color;
        QPointF offset;
        double blur = 0;
    };
    struct LayerFrame;

    void init();
    // What an operation draws, told in bytes (empty when it cannot be told
    // in a few): a key for its shadow in the current ShadowCache.
    using ShapeKey = std::function<QByteArray()>;
    // Wraps one drawing operation in its own layer when a shadow is set,
    // inside a transparency layer too (a canvas draws the design in one):
    // each shape casts its own shadow. A layer begun with a shadow casts it
    // for the whole group, whose shapes draw plainly.
    void withImplicitLayer(const std::function<void()> &draw, const ShapeKey &shapeKey = {});
    // The same for one operation in plain source-over or erasing mode with
    // a wide shadow, without a canvas-sized group; false when it does not apply.
    bool drawWithReducedShadow(const std::function<void()> &draw, const ShapeKey &shapeKey);

    std::unique_ptr<QPainter> m_ownedPainter;
    QPainter *m_painter = nullptr;
    double m_height = 0;
    QRectF m_canvas; // the canvas in y-up units
    ShadowState m_shadow;
    std::vector<ShadowState> m_savedShadows;
    std::vector<std::unique_ptr<LayerFrame>> m_layers;
    DrawingContext *m_previous = nullptr;
    std::shared_ptr<const ColorMatch> m_match;
    bool m_otherModes = false;
};

} // namespace platform
