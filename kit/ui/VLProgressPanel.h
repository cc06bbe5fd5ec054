#pragma once

#include "kit/VLLongProcessPanel.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QProgressBar;

// The small floating panel of a long process: a label counting the work done
// and a determinate progress bar.
class VLProgressPanel : public VLLongProcessPanel
{
public:
    explicit VLProgressPanel(const Spec &spec);
    ~VLProgressPanel() override;

    void setLabelText(const QString &text) override;
    void setProgressValue(qint64 value) override;
    void close() override;

    QWidget *window() const { return m_window.data(); }
    QLabel *label() const { return m_label; }
    QProgressBar *progressIndicator() const { return m_bar; }

    // Makes long processes show this panel.
    static void install();

private:
    QPointer<QWidget> m_window;
    QLabel *m_label = nullptr;
    QProgressBar *m_bar = nullptr;
    qint64 m_maximum = 0;
};
