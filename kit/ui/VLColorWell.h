#pragma once

#include <QColor>
#include <QPointer>
#include <QWidget>

class QColorDialog;

// A swatch that edits one colour through the program's one colour dialog.
// The dialog is shared and never modal: at most one well is active, and the
// dialog's colour goes to that well alone.
class VLColorWell : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)

public:
    explicit VLColorWell(QWidget *parent = nullptr);
    ~VLColorWell() override;

    QColor color() const { return m_color; }
    // Shows the colour; tells nobody (the model's colour coming back).
    void setColor(const QColor &color);

    // Makes this the well the shared dialog edits, and shows the dialog.
    void activate();
    // Stops taking the dialog's colour (the dialog stays open).
    void deactivate();
    bool isActive() const;

    // The shared dialog (with alpha), made on first use.
    static QColorDialog *sharedColorDialog();
    static bool sharedColorDialogIsVisible();
    static VLColorWell *activeWell();

    QSize sizeHint() const override { return {44, 22}; }

signals:
    // The user chose a colour through the dialog.
    void colorEdited(const QColor &color);
    void colorChanged(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    QColor m_color = Qt::white;
};
