#pragma once

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>

// A tile among the library's items that runs a command instead of standing
// for a library item ("More frames").
class KTButtonFrame
{
public:
    KTButtonFrame(const QString &name, QObject *target, const QByteArray &action, const QString &iconImageName);

    QString name() const { return m_name; }
    QObject *target() const { return m_target; }
    QByteArray action() const { return m_action; }
    QString iconImageName() const { return m_iconImageName; }
    // The application's picture of that name, or a drawn stand-in.
    QImage iconImage() const;

    // Sends the action to the target when it answers it (with the tile's
    // name as argument where it takes one); false when it does not.
    bool sendAction() const;

private:
    QString m_name;
    QPointer<QObject> m_target;
    QByteArray m_action;
    QString m_iconImageName;
};
