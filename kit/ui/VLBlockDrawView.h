#pragma once

#include <QWidget>

#include <functional>

// A view that draws through a block given by its maker; whether it reports
// itself opaque is the maker's choice too.
class VLBlockDrawView : public QWidget
{
    Q_OBJECT
public:
    using DrawBlock = std::function<void(VLBlockDrawView *view, QPainter &painter, const QRect &rect)>;

    explicit VLBlockDrawView(QWidget *parent = nullptr);
    VLBlockDrawView(DrawBlock drawBlock, QWidget *parent = nullptr);

    const DrawBlock &drawRectBlock() const { return m_drawRectBlock; }
    void setDrawRectBlock(DrawBlock block);

    bool reportAsOpaque() const { return m_reportAsOpaque; }
    void setReportAsOpaque(bool opaque);
    virtual bool isOpaque() const { return reportAsOpaque(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    DrawBlock m_drawRectBlock;
    bool m_reportAsOpaque = false;
};
