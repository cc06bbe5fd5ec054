#pragma once

#include <QTableView>

// A table that announces when it takes the keyboard focus.
class VLTableView : public QTableView
{
    Q_OBJECT
public:
    explicit VLTableView(QWidget *parent = nullptr);

    static constexpr const char *kFirstResponderNotification = "firstResponderNotification";

protected:
    void focusInEvent(QFocusEvent *event) override;
};
