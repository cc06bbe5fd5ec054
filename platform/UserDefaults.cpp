#include "platform/UserDefaults.h"
#include "platform/VariantKinds.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QMutex>
#include <QMutexLocker>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <optional>

namespace platform {

struct UserDefaults::Private {
    explicit Private(const QString &path)
        : settings(path, QSettings::IniFormat)
    {
    }
    mutable QMutex mutex;
    QSettings settings;
    QVariantMap registered;
};

namespace {

QString standardPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Kantelo/Kantelo.conf");
}

// Reads "YES", "true" (any case) and non-zero numbers as true, the way
// stored settings written by older versions or by hand say yes.
bool toBool(const QVariant &value)
{
    if (!value.isValid())
        return false;
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (platform::isNumericVariant(value))
        return value.toDouble() != 0.0;
    if (value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray) {
        const QString text = value.toString().trimmed();
        if (text.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0
            || text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        bool ok = false;
        const double number = text.toDouble(&ok);
        return ok && number != 0.0;
    }
    return false;
}

qint64 toInteger(const QVariant &value)
{
    if (!value.isValid())
        return 0;
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? 1 : 0;
    bool ok = false;
    const qint64 integer = value.toLongLong(&ok);
    if (ok)
        return integer;
    const QString text = value.toString().trimmed();
    if (text.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0
        || text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return 1;
    const double number = text.toDouble(&ok);
    if (ok && number == number && number > -9.2e18 && number < 9.2e18)
        return qint64(number);
    return 0;
}

double toDouble(const QVariant &value)
{
    if (!value.isValid())
        return 0.0;
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? 1.0 : 0.0;
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (ok)
        return number;
    const QString text = value.toString().trimmed();
    if (text.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0
        || text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return 1.0;
    return 0.0;
}

// The value `key` has in the file as it is now. QSettings reads a file again
// only when its size or time changed, and another program's count written in
// the same tick of the file system's clock changes neither: a copy under a
// name of its own is read from scratch. Nothing when the file can't be read.
std::optional<QVariant> valueInFile(const QString &path, const QString &key)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.exists() ? std::nullopt : std::optional<QVariant>(QVariant());
    const QByteArray text = file.readAll();
    QTemporaryFile copy(path + QStringLiteral(".read-XXXXXX"));
    if (file.error() != QFileDevice::NoError || !copy.open() || copy.write(text) != text.size() || !copy.flush())
        return std::nullopt;
    return QSettings(copy.fileName(), QSettings::IniFormat).value(key);
}

} // namespace

UserDefaults &UserDefaults::standard()
{
    // Made on first use and kept for the process; the settings file is
    // flushed after every change, so nothing waits for its destruction.
    static UserDefaults *defaults = [] {
        auto *made = new UserDefaults(standardPath());
        // Belongs to the main thread whichever thread asked first.
        if (QCoreApplication::instance())
            made->moveToThread(QCoreApplication::instance()->thread());
        return made;
    }();
    return *defaults;
}

UserDefaults::UserDefaults(const QString &iniPath, QObject *parent)
    : QObject(parent)
{
    QDir().mkpath(QFileInfo(iniPath).absolutePath());
    d = std::make_unique<Private>(iniPath);
}

UserDefaults::~UserDefaults()
{
    QMutexLocker lock(&d->mutex);
    d->settings.sync();
}

void UserDefaults::registerDefaults(const QVariantMap &values)
{
    QMutexLocker lock(&d->mutex);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        d->registered.insert(it.key(), it.value());
}

QVariantMap UserDefaults::registeredDefaults() const
{
    QMutexLocker lock(&d->mutex);
    return d->registered;
}

QVariant UserDefaults::objectForKey(const QString &key) const
{
    QMutexLocker lock(&d->mutex);
    if (d->settings.contains(key))
        return d->settings.value(key);
    return d->registered.value(key);
}

bool UserDefaults::hasStoredValue(const QString &key) const
{
    QMutexLocker lock(&d->mutex);
    return d->settings.contains(key);
}

bool UserDefaults::boolForKey(const QString &key) const
{
    return toBool(objectForKey(key));
}

qint64 UserDefaults::integerForKey(const QString &key) const
{
    return toInteger(objectForKey(key));
}

double UserDefaults::doubleForKey(const QString &key) const
{
    return toDouble(objectForKey(key));
}

QString UserDefaults::stringForKey(const QString &key) const
{
    const QVariant value = objectForKey(key);
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    // Numbers answer their text; containers and data are not strings.
    if (platform::isNumericVariant(value) || value.typeId() == QMetaType::Bool)
        return value.toString();
    return {};
}

QVariantList UserDefaults::arrayForKey(const QString &key) const
{
    const QVariant value = objectForKey(key);
    if (value.typeId() == QMetaType::QVariantList)
        return value.toList();
    if (value.typeId() == QMetaType::QStringList) {
        QVariantList list;
        for (const QString &item : value.toStringList())
            list.append(item);
        return list;
    }
    return {};
}

QVariantMap UserDefaults::dictionaryForKey(const QString &key) const
{
    const QVariant value = objectForKey(key);
    if (value.typeId() == QMetaType::QVariantMap)
        return value.toMap();
    if (value.typeId() == QMetaType::QVariantHash) {
        QVariantMap map;
        const QVariantHash hash = value.toHash();
        for (auto it = hash.cbegin(); it != hash.cend(); ++it)
            map.insert(it.key(), it.value());
        return map;
    }
    return {};
}

QByteArray UserDefaults::dataForKey(const QString &key) const
{
    const QVariant value = objectForKey(key);
    return value.typeId() == QMetaType::QByteArray ? value.toByteArray() : QByteArray();
}

void UserDefaults::setObject(const QString &key, const QVariant &value)
{
    if (!value.isValid()) {
        removeObject(key);
        return;
    }
    {
        QMutexLocker lock(&d->mutex);
        d->settings.setValue(key, value);
        d->settings.sync();
    }
    emit valueChanged(key);
}

void UserDefaults::setBool(const QString &key, bool value)
{
    setObject(key, value);
}

void UserDefaults::setInteger(const QString &key, qint64 value)
{
    setObject(key, value);
}

void UserDefaults::setDouble(const QString &key, double value)
{
    setObject(key, value);
}

void UserDefaults::removeObject(const QString &key)
{
    {
        QMutexLocker lock(&d->mutex);
        if (!d->settings.contains(key))
            return;
        d->settings.remove(key);
        d->settings.sync();
    }
    emit valueChanged(key);
}

qint64 UserDefaults::incrementInteger(const QString &key, qint64 by)
{
    qint64 value = 0;
    {
        // Not the settings' own lock file, which each sync takes itself.
        QLockFile counting(d->settings.fileName() + QStringLiteral(".count"));
        counting.setStaleLockTime(0);
        const bool locked = counting.tryLock(10000);
        QMutexLocker lock(&d->mutex);
        d->settings.sync(); // what other processes wrote meanwhile
        const std::optional<QVariant> onDisk = valueInFile(d->settings.fileName(), key);
        const QVariant stored = onDisk ? *onDisk : d->settings.value(key);
        value = toInteger(stored.isValid() ? stored : d->registered.value(key)) + by;
        d->settings.setValue(key, value);
        d->settings.sync();
        if (locked)
            counting.unlock();
    }
    emit valueChanged(key);
    return value;
}

void UserDefaults::synchronize()
{
    QMutexLocker lock(&d->mutex);
    d->settings.sync();
}

QString UserDefaults::filePath() const
{
    return d->settings.fileName();
}

} // namespace platform
