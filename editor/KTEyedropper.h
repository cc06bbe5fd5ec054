#pragma once

#include <QObject>
#include <QPointer>

class VLColorWell;

// Picks the colour of a pixel of the program's own windows for a colour
// well: the next click anywhere in them is the pick and reaches no control;
// Escape cancels, other keys are ignored meanwhile.
class KTEyedropper : public QObject
{
    Q_OBJECT
public:
    // Starts picking for the well; one pick at a time.
    static void pickColorForWell(VLColorWell *well);
    static bool isPicking();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit KTEyedropper(VLColorWell *well);
    void finish();

    QPointer<VLColorWell> m_well;
    bool m_dialogWasVisible = false;
};
