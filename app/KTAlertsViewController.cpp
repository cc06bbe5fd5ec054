#include "app/KTAlertsViewController.h"

#include "platform/NotificationCenter.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QVBoxLayout>

KTAlertsViewController::KTAlertsViewController(QObject *parent)
    : platform::ViewController(QString::fromLatin1(kNibName), parent)
{
}

KTAlertsViewController::~KTAlertsViewController() = default;

namespace {
QPointer<KTAlertsViewController> &sharedController()
{
    static QPointer<KTAlertsViewController> controller;
    return controller;
}
} // namespace

KTAlertsViewController *KTAlertsViewController::shared()
{
    return sharedController().data();
}

void KTAlertsViewController::setShared(KTAlertsViewController *controller)
{
    sharedController() = controller;
}

QWidget *KTAlertsViewController::loadView()
{
    auto *view = new QWidget;
    view->setObjectName(nibName());
    auto *layout = new QVBoxLayout(view);
    layout->setContentsMargins(10, 10, 10, 10);
    m_textView = new QTextEdit(view);
    m_textView->setObjectName(QStringLiteral("textView"));
    m_textView->setReadOnly(true);
    layout->addWidget(m_textView, 1);
    auto *row = new QHBoxLayout;
    m_infoLabel = new QLabel(view);
    m_infoLabel->setObjectName(QStringLiteral("infoLabel"));
    row->addWidget(m_infoLabel, 1);
    auto *clear = new QPushButton(tr("Clear"), view);
    clear->setObjectName(QStringLiteral("clearButton"));
    connect(clear, &QPushButton::clicked, this, &KTAlertsViewController::clearPressed);
    row->addWidget(clear);
    layout->addLayout(row);
    view->resize(420, 260);
    return view;
}

void KTAlertsViewController::addWarning(const QString &warning)
{
    // Queued even from the main thread, so warnings keep their order.
    QPointer<KTAlertsViewController> self(this);
    QMetaObject::invokeMethod(this, [self, warning] {
        if (self)
            self->appendWarning(warning);
    }, Qt::QueuedConnection);
}

void KTAlertsViewController::appendWarning(const QString &warning)
{
    // Each batch that arrives while the list is unseen starts after an empty line.
    if (newAlerts() == 0)
        m_text += QLatin1Char('\n');
    setNewAlerts(newAlerts() + 1);
    m_warningStarts.append(m_text.size());
    m_text += warning;
    if (m_textView && m_textView->isVisible())
        showText();
    postShowAlertsButton(true);
    emit warningAdded();
}

void KTAlertsViewController::postShowAlertsButton(bool show)
{
    platform::NotificationCenter::defaultCenter().post(QString::fromLatin1(kShowAlertsNotification), this,
                                                       QVariantMap{{QString::fromLatin1(kShowKey), show}});
}

qint64 KTAlertsViewController::newAlerts() const
{
    QMutexLocker locker(&m_lock);
    return m_newAlerts;
}

void KTAlertsViewController::setNewAlerts(qint64 count)
{
    QMutexLocker locker(&m_lock);
    m_newAlerts = count;
    if (m_infoLabel)
        m_infoLabel->setText(tr(kNewAlertsFormat, nullptr, int(count)));
}

void KTAlertsViewController::showText()
{
    m_textView->clear();
    QTextCursor cursor(m_textView->document());
    QTextCharFormat plain;
    QTextCharFormat warning;
    warning.setForeground(warningColor());
    qsizetype from = 0;
    for (qsizetype i = 0; i <= m_warningStarts.size(); ++i) {
        const qsizetype start = i < m_warningStarts.size() ? m_warningStarts.at(i) : m_text.size();
        if (start > from)
            cursor.insertText(m_text.mid(from, start - from), i == 0 ? plain : warning);
        from = start;
    }
}

void KTAlertsViewController::viewWillAppear()
{
    view();
    showText();
    setNewAlerts(newAlerts());
}

void KTAlertsViewController::viewDidDisappear()
{
    setNewAlerts(0);
    // Every bar drops the count it showed; the button goes once the list is empty.
    postShowAlertsButton(!m_text.isEmpty());
}

void KTAlertsViewController::clearPressed()
{
    if (m_textView)
        m_textView->clear();
    m_text.clear();
    m_warningStarts.clear();
    setNewAlerts(0);
}
