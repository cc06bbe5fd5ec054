#pragma once

#include "platform/ui/ViewController.h"

#include <QColor>
#include <QLabel>
#include <QMutex>
#include <QPointer>
#include <QTextEdit>

// The one list of warnings of the application: problems the user should know
// of that must not interrupt the work. Warnings come from any thread; the
// list counts those that arrived since the user last looked and tells every
// bottom bar, through "KTShowAlertsNotification", to show its warnings button.
class KTAlertsViewController : public platform::ViewController
{
    Q_OBJECT
public:
    static constexpr const char *kNibName = "KTAlertsViewController";
    static constexpr const char *kShowAlertsNotification = "KTShowAlertsNotification";
    static constexpr const char *kShowKey = "show";
    static constexpr const char *kNewAlertsFormat = "%n new alert(s)";

    explicit KTAlertsViewController(QObject *parent = nullptr);
    ~KTAlertsViewController() override;

    // The application's list, made by the application delegate.
    static KTAlertsViewController *shared();
    static void setShared(KTAlertsViewController *controller);

    static QColor warningColor() { return QColor::fromRgbF(0.6f, 0.6f, 0.0f, 1.0f); }

    // Callable from any thread: the work is queued to the main thread.
    void addWarning(const QString &warning);
    void postShowAlertsButton(bool show);

    QString text() const { return m_text; }
    void setText(const QString &text) { m_text = text; }
    qint64 newAlerts() const;
    void setNewAlerts(qint64 count);

    QLabel *infoLabel() const { return m_infoLabel; }
    QTextEdit *textView() const { return m_textView; }

    // The clear button.
    void clearPressed();

signals:
    // A warning was added on the main thread.
    void warningAdded();

protected:
    QWidget *loadView() override;
    void viewWillAppear() override;
    void viewDidDisappear() override;

private:
    void appendWarning(const QString &warning);
    void showText();

    QString m_text;
    // Where each warning starts in m_text, so the view can colour it.
    QList<qsizetype> m_warningStarts;
    mutable QMutex m_lock;
    qint64 m_newAlerts = 0;
    QPointer<QLabel> m_infoLabel;
    QPointer<QTextEdit> m_textView;
};
