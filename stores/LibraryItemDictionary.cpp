#include "stores/LibraryItemDictionary.h"

#include "platform/Log.h"

#include <QByteArray>
#include <QDateTime>

#include <cmath>
#include <limits>

namespace LibraryItemDictionary {

namespace {

QString typeName(const QVariant &value)
{
    return QString::fromLatin1(value.metaType().name() ? value.metaType().name() : "invalid");
}

bool isNumber(const QVariant &v)
{
    switch (v.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

bool isInteger(const QVariant &v)
{
    switch (v.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return true;
    default:
        return false;
    }
}

void dropped(const QString &what, const QVariant &value)
{
    platform::logLine(QString("Warning: ignoring %1 of unexpected type %2 in a library item")
                          .arg(what, typeName(value)));
}

std::optional<qint64> integerFrom(const QVariant &v)
{
    if (v.metaType().id() == QMetaType::Bool)
        return v.toBool() ? 1 : 0;
    if (v.metaType().id() == QMetaType::ULongLong) {
        const qulonglong u = v.toULongLong();
        if (u > qulonglong(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return qint64(u);
    }
    if (isInteger(v))
        return v.toLongLong();
    if (isNumber(v)) {
        const double d = v.toDouble();
        if (!std::isfinite(d) || d < -9.2e18 || d > 9.2e18)
            return std::nullopt;
        return qint64(std::llround(d));
    }
    if (v.metaType().id() == QMetaType::QString) {
        bool ok = false;
        const qint64 n = v.toString().trimmed().toLongLong(&ok);
        if (ok)
            return n;
        const double d = v.toString().trimmed().toDouble(&ok);
        if (ok && std::isfinite(d) && d > -9.2e18 && d < 9.2e18)
            return qint64(std::llround(d));
    }
    return std::nullopt;
}

std::optional<double> realFrom(const QVariant &v)
{
    if (v.metaType().id() == QMetaType::Bool)
        return v.toBool() ? 1.0 : 0.0;
    double d = 0;
    if (isNumber(v)) {
        d = v.toDouble();
    } else if (v.metaType().id() == QMetaType::QString) {
        bool ok = false;
        d = v.toString().trimmed().toDouble(&ok);
        if (!ok)
            return std::nullopt;
    } else {
        return std::nullopt;
    }
    if (!std::isfinite(d))
        return std::nullopt;
    return d;
}

std::optional<bool> boolFrom(const QVariant &v)
{
    if (v.metaType().id() == QMetaType::Bool)
        return v.toBool();
    if (isNumber(v)) {
        const double d = v.toDouble();
        if (std::isnan(d))
            return std::nullopt;
        return d != 0;
    }
    if (v.metaType().id() == QMetaType::QString) {
        const QString s = v.toString().trimmed().toLower();
        if (s == "yes" || s == "true" || s == "y" || s == "t")
            return true;
        if (s == "no" || s == "false" || s == "n" || s == "f")
            return false;
        bool ok = false;
        const qint64 n = s.toLongLong(&ok);
        if (ok)
            return n != 0;
    }
    return std::nullopt;
}

std::optional<QString> textFrom(const QVariant &v)
{
    if (v.metaType().id() == QMetaType::QString)
        return v.toString();
    if (v.metaType().id() == QMetaType::Bool)
        return v.toBool() ? QString("YES") : QString("NO");
    if (isInteger(v))
        return v.toString();
    if (isNumber(v)) {
        const double d = v.toDouble();
        if (!std::isfinite(d))
            return std::nullopt;
        return QString::number(d, 'g', 17);
    }
    return std::nullopt;
}

} // namespace

bool isUsableGUID(const QString &guid)
{
    return !guid.isEmpty() && guid.size() <= 255 && !guid.contains('/') && !guid.contains('\\')
           && !guid.contains(QChar(0)) && guid != "." && guid != "..";
}

std::optional<QString> stringForKey(const QVariantMap &dictionary, const char *key)
{
    const auto it = dictionary.constFind(QString::fromLatin1(key));
    if (it == dictionary.constEnd() || !it->isValid() || it->isNull())
        return std::nullopt;
    if (auto text = textFrom(*it))
        return text;
    dropped(QString("\"%1\"").arg(key), *it);
    return std::nullopt;
}

std::optional<QString> guidForKey(const QVariantMap &dictionary, const char *key)
{
    const auto it = dictionary.constFind(QString::fromLatin1(key));
    if (it == dictionary.constEnd() || !it->isValid() || it->isNull())
        return std::nullopt;
    if (it->metaType().id() == QMetaType::QString && isUsableGUID(it->toString()))
        return it->toString();
    if (it->metaType().id() == QMetaType::QString)
        platform::logLine(QString("Warning: ignoring unusable \"%1\" \"%2\" in a library item")
                              .arg(key, it->toString().left(80)));
    else
        dropped(QString("\"%1\"").arg(key), *it);
    return std::nullopt;
}

QVariantMap dictionaryForKey(const QVariantMap &dictionary, const char *key)
{
    const auto it = dictionary.constFind(QString::fromLatin1(key));
    if (it == dictionary.constEnd() || !it->isValid() || it->isNull())
        return {};
    if (it->metaType().id() == QMetaType::QVariantMap)
        return it->toMap();
    dropped(QString("\"%1\"").arg(key), *it);
    return {};
}

QVariant attributeValueForKind(const QString &name, const QVariant &value, int kind)
{
    if (!value.isValid() || value.isNull())
        return {};
    const QString what = QString("value of attribute \"%1\"").arg(name);
    switch (kind) {
    case KindString:
        if (auto t = textFrom(value))
            return *t;
        break;
    case KindImage:
        if (value.metaType().id() == QMetaType::QString && isUsableGUID(value.toString()))
            return value.toString();
        break;
    case KindInteger:
        if (auto n = integerFrom(value))
            return QVariant::fromValue<qint64>(*n);
        break;
    case KindFloat:
        if (auto d = realFrom(value))
            return *d;
        break;
    case KindBoolean:
        if (auto b = boolFrom(value))
            return *b;
        break;
    case KindColor:
        if (value.metaType().id() == QMetaType::QByteArray && !value.toByteArray().isEmpty())
            return value.toByteArray();
        break;
    default:
        platform::logLine(QString("Warning: ignoring attribute \"%1\" of unknown kind %2").arg(name).arg(kind));
        return {};
    }
    dropped(what, value);
    return {};
}

QString describe(const QVariantMap &dictionary)
{
    QStringList parts;
    for (auto it = dictionary.constBegin(); it != dictionary.constEnd(); ++it) {
        const QVariant &v = it.value();
        QString text;
        if (auto t = textFrom(v))
            text = t->left(80);
        else if (v.metaType().id() == QMetaType::QVariantMap)
            text = QString("{%1 keys}").arg(v.toMap().size());
        else
            text = QString("<%1>").arg(typeName(v));
        parts << QString("%1 = %2").arg(it.key().left(40), text);
    }
    return "{" + parts.join("; ") + "}";
}

} // namespace LibraryItemDictionary
