#include "kit/VLKitUtils.h"

#include "platform/Bundle.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QUrl>

namespace {
QString featureKey(const QString &feature)
{
    return QString::fromLatin1(VLKitUtils::kLaunchesForFeatureKeyFormat).arg(feature);
}

struct CountedFeatures {
    QMutex mutex;
    QSet<QString> names;
    CountedFeatures() { names.reserve(5); }
};

CountedFeatures &countedFeatures()
{
    static CountedFeatures counted;
    return counted;
}
} // namespace

QString VLKitUtils::shortVersionString()
{
    static const QString value = platform::Bundle::shortVersionString();
    return value;
}

QString VLKitUtils::versionString()
{
    static const QString value = platform::Bundle::version();
    return value;
}

QString VLKitUtils::applicationName()
{
    static const QString value = platform::Bundle::name();
    return value;
}

void VLKitUtils::load(platform::UserDefaults &defaults)
{
    defaults.incrementInteger(QString::fromLatin1(kLaunchesKey));
}

void VLKitUtils::load()
{
    load(platform::UserDefaults::standard());
}

qint64 VLKitUtils::launches(const platform::UserDefaults &defaults)
{
    return defaults.integerForKey(QString::fromLatin1(kLaunchesKey));
}

qint64 VLKitUtils::launches()
{
    return launches(platform::UserDefaults::standard());
}

qint64 VLKitUtils::launchesForFeature(const QString &feature, platform::UserDefaults &defaults)
{
    const QString key = featureKey(feature);
    qint64 value = defaults.integerForKey(key);
    CountedFeatures &counted = countedFeatures();
    QMutexLocker lock(&counted.mutex);
    if (!counted.names.contains(feature)) {
        value = defaults.incrementInteger(key);
        counted.names.insert(feature);
    }
    return value;
}

qint64 VLKitUtils::launchesForFeature(const QString &feature)
{
    return launchesForFeature(feature, platform::UserDefaults::standard());
}

void VLKitUtils::setLaunchesForFeature(qint64 launches, const QString &feature, platform::UserDefaults &defaults)
{
    defaults.setInteger(featureKey(feature), launches);
}

void VLKitUtils::setLaunchesForFeature(qint64 launches, const QString &feature)
{
    setLaunchesForFeature(launches, feature, platform::UserDefaults::standard());
}

void VLKitUtils::forgetCountedFeatures()
{
    CountedFeatures &counted = countedFeatures();
    QMutexLocker lock(&counted.mutex);
    counted.names.clear();
}

bool VLKitUtils::openMacAppStoreForURL(const QString &url)
{
    const QUrl address(url);
    if (!address.isValid() || address.isEmpty())
        return false;
    return QDesktopServices::openUrl(address);
}

qint64 VLKitUtils::nanosecsToExecuteBlock(const QString &label, const std::function<void()> &block)
{
    QElapsedTimer timer;
    timer.start();
    if (block)
        block();
    const qint64 elapsed = timer.nsecsElapsed();
    if (!label.isEmpty())
        platform::logLine(QStringLiteral("%1 executed in %2 ns").arg(label).arg(elapsed));
    return elapsed;
}
