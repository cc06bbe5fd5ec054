#include "design/KTExportQuality.h"

#include "design/KTPreferenceKeys.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "platform/VariantKinds.h"

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

#include <cmath>
#include <optional>

namespace {

std::optional<double> percentIn(const QVariant &value)
{
    bool ok = false;
    double percent = 0;
    if (platform::isNumericVariant(value))
        percent = value.toDouble(&ok);
    else if (value.typeId() == QMetaType::QString)
        percent = value.toString().trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(percent) || percent < 1 || percent > 100)
        return std::nullopt;
    return percent;
}

// Every reader asks again; the user hears of one bad value once.
void warnOnce(const QString &line)
{
    static QMutex mutex;
    static QString told;
    QMutexLocker lock(&mutex);
    if (line == told)
        return;
    told = line;
    platform::logLine(line);
}

} // namespace

double KTExportQuality::percentFromDefaults(const platform::UserDefaults &defaults)
{
    const QVariant value = defaults.objectForKey(QString::fromLatin1(KTPreferenceKeys::kOutputImageQualityKey));
    if (!value.isValid())
        return kFactoryPercent;
    if (const std::optional<double> percent = percentIn(value))
        return *percent;
    const QString shown =
        value.typeId() == QMetaType::QStringList ? value.toStringList().join(QStringLiteral(", ")) : value.toString();
    warnOnce(QString::fromUtf8(kUnusableWarning).arg(shown, defaults.filePath(), QString::number(kFactoryPercent)));
    return kFactoryPercent;
}

double KTExportQuality::fromDefaults(const platform::UserDefaults &defaults)
{
    return percentFromDefaults(defaults) / 100.0;
}
