#pragma once

#include <QObject>

#include <functional>

// Runs an action on the Delete and Backspace keys of the widget it watches
// (the editor's lists and tables remove with them); other keys pass.
class KTEDeleteKeyFilter : public QObject
{
    Q_OBJECT
public:
    KTEDeleteKeyFilter(std::function<void()> action, QObject *watched);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::function<void()> m_action;
};
