#include "kit/VLKitUtils.h"
#include "kit/VLWAnalytics.h"

#include "platform/Bundle.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QUrl>
#include <QUuid>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using platform::UserDefaults;

namespace {
std::unique_ptr<UserDefaults> isolatedDefaults()
{
    return std::make_unique<UserDefaults>(testsupport::scratchDir() + "/kitutils-"
                                          + QUuid::createUuid().toString(QUuid::WithoutBraces) + ".conf");
}

class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};
} // namespace

TEST(KitUtils, LaunchCounterCountsEachStart)
{
    auto defaults = isolatedDefaults();
    EXPECT_EQ(VLKitUtils::launches(*defaults), 0);
    VLKitUtils::load(*defaults);
    EXPECT_EQ(VLKitUtils::launches(*defaults), 1);
    for (int i = 0; i < 4; ++i)
        VLKitUtils::load(*defaults);
    EXPECT_EQ(VLKitUtils::launches(*defaults), 5);
    EXPECT_EQ(defaults->integerForKey("Launches"), 5);
}

TEST(KitUtils, FeatureCountedOncePerProcess)
{
    auto defaults = isolatedDefaults();
    VLKitUtils::forgetCountedFeatures();
    EXPECT_EQ(VLKitUtils::launchesForFeature("SubscribeToNewsletter", *defaults), 1);
    EXPECT_EQ(VLKitUtils::launchesForFeature("SubscribeToNewsletter", *defaults), 1);
    EXPECT_EQ(defaults->integerForKey("Launches-SubscribeToNewsletter"), 1);

    VLKitUtils::setLaunchesForFeature(7, "Review", *defaults);
    // Review not asked for yet in this process: the first ask counts.
    EXPECT_EQ(VLKitUtils::launchesForFeature("Review", *defaults), 8);
    VLKitUtils::setLaunchesForFeature(7, "Review", *defaults);
    EXPECT_EQ(VLKitUtils::launchesForFeature("Review", *defaults), 7);
    // A new process starts with nothing counted.
    VLKitUtils::forgetCountedFeatures();
    EXPECT_EQ(VLKitUtils::launchesForFeature("Review", *defaults), 8);
}

TEST(KitUtils, BundleFactsAndTiming)
{
    EXPECT_EQ(VLKitUtils::applicationName(), platform::Bundle::name());
    EXPECT_EQ(VLKitUtils::shortVersionString(), platform::Bundle::shortVersionString());
    EXPECT_EQ(VLKitUtils::versionString(), platform::Bundle::version());

    QStringList lines;
    platform::setLogSink([&](const QString &line) { lines << line; });
    bool ran = false;
    const qint64 ns = VLKitUtils::nanosecsToExecuteBlock("Sorting", [&] { ran = true; });
    VLKitUtils::nanosecsToExecuteBlock(QString(), [] {});
    platform::setLogSink(nullptr);
    EXPECT_TRUE(ran);
    EXPECT_GE(ns, 0);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines[0], QString("Sorting executed in %1 ns").arg(ns));
}

TEST(KitUtils, StorePageOpensWithTheDefaultHandler)
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "open");
    EXPECT_TRUE(VLKitUtils::openMacAppStoreForURL("https://store.example.com/app/kantelo?id=1"));
    EXPECT_FALSE(VLKitUtils::openMacAppStoreForURL(QString()));
    QDesktopServices::unsetUrlHandler("https");
    ASSERT_EQ(catcher.opened.size(), 1);
    EXPECT_EQ(catcher.opened[0], QUrl("https://store.example.com/app/kantelo?id=1"));
}

TEST(KitUtils, AnalyticsAcceptsAnythingFromAnyThread)
{
    EXPECT_EQ(&VLWAnalytics::sharedAnalytics(), &VLWAnalytics::sharedAnalytics());
    std::vector<std::thread> threads;
    std::atomic<VLWAnalytics *> seen[4] = {};
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&, i] {
            seen[i] = &VLWAnalytics::sharedAnalytics();
            VLWAnalytics::trackEventProperties("Export", QVariantMap{{"format", "JPEG"}});
            VLWAnalytics::trackEventProperties("Import", std::nullopt);
        });
    }
    for (auto &thread : threads)
        thread.join();
    for (auto &pointer : seen)
        EXPECT_EQ(pointer.load(), &VLWAnalytics::sharedAnalytics());
}

#include "VLKitUtilsTest.moc"
