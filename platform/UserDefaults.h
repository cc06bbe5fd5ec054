#pragma once

#include <QObject>
#include <QVariant>

#include <memory>

namespace platform {

// The user defaults: values the user stored (an INI QSettings file under
// $XDG_CONFIG_HOME/Kantelo) over a registered layer that is never written.
class UserDefaults : public QObject
{
    Q_OBJECT
public:
    static UserDefaults &standard();
    // A defaults object on its own file (tests, tools).
    explicit UserDefaults(const QString &iniPath, QObject *parent = nullptr);
    ~UserDefaults() override;

    void registerDefaults(const QVariantMap &values);
    QVariantMap registeredDefaults() const;

    // Stored value, else registered value, else an invalid QVariant.
    QVariant objectForKey(const QString &key) const;
    bool hasStoredValue(const QString &key) const;

    // "YES", "true" and non-zero numbers read as true.
    bool boolForKey(const QString &key) const;
    qint64 integerForKey(const QString &key) const;
    double doubleForKey(const QString &key) const;
    QString stringForKey(const QString &key) const;
    QVariantList arrayForKey(const QString &key) const;
    QVariantMap dictionaryForKey(const QString &key) const;
    QByteArray dataForKey(const QString &key) const;

    void setObject(const QString &key, const QVariant &value);
    void setBool(const QString &key, bool value);
    void setInteger(const QString &key, qint64 value);
    void setDouble(const QString &key, double value);
    void removeObject(const QString &key);
    // Adds `by` to the integer stored under `key` (else its registered value)
    // in one step across processes: the file is read again under a lock, so
    // two programs counting at once both count. Answers the new value.
    qint64 incrementInteger(const QString &key, qint64 by = 1);
    void synchronize();

    QString filePath() const;

signals:
    void valueChanged(const QString &key);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace platform
