#include "platform/NotificationCenter.h"

#include <gtest/gtest.h>

#include <QObject>

#include <memory>

using platform::Notification;
using platform::NotificationCenter;

TEST(PlatformNotificationCenter, FiltersByNameAndSender)
{
    NotificationCenter center;
    int a = 0, b = 0;
    const int senderA = 1, senderB = 2;
    QStringList seenByName, seenByAll, seenFromA;
    center.addObserver("layerChanged", nullptr, [&](const Notification &n) { seenByName << n.name; });
    center.addObserver(QString(), nullptr, [&](const Notification &n) { seenByAll << n.name; });
    center.addObserver("layerChanged", &senderA, [&](const Notification &) { ++a; });
    center.addObserver(QString(), &senderB, [&](const Notification &) { ++b; });

    center.post("layerChanged", &senderA);
    center.post("layerChanged", &senderB);
    center.post("modelChanged", &senderA);
    center.post("modelChanged", nullptr);

    EXPECT_EQ(seenByName, QStringList({"layerChanged", "layerChanged"}));
    EXPECT_EQ(seenByAll.size(), 4);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 1);
}

TEST(PlatformNotificationCenter, NoUserInfoDiffersFromEmptyUserInfo)
{
    NotificationCenter center;
    int edits = 0, redraws = 0;
    center.addObserver("layerChanged", nullptr, [&](const Notification &n) {
        if (n.userInfo)
            ++redraws;
        else
            ++edits;
    });
    center.post("layerChanged", nullptr);
    center.post("layerChanged", nullptr, QVariantMap());
    center.post("layerChanged", nullptr, QVariantMap{{"k", 1}});
    EXPECT_EQ(edits, 1);
    EXPECT_EQ(redraws, 2);
}

TEST(PlatformNotificationCenter, ObserversGoAwayWithTheirContextAndOnRemoval)
{
    NotificationCenter center;
    int calls = 0;
    auto context = std::make_unique<QObject>();
    center.addObserver("x", nullptr, [&](const Notification &) { ++calls; }, context.get());
    const auto id = center.addObserver("x", nullptr, [&](const Notification &) { calls += 10; });
    center.post("x");
    EXPECT_EQ(calls, 11);
    context.reset();
    center.post("x");
    EXPECT_EQ(calls, 21);
    center.removeObserver(id);
    center.post("x");
    EXPECT_EQ(calls, 21);
}

TEST(PlatformNotificationCenter, HandlersMayChangeObserversWhilePosting)
{
    NotificationCenter center;
    int first = 0, second = 0, added = 0;
    NotificationCenter::ObserverId secondId = 0;
    center.addObserver("x", nullptr, [&](const Notification &) {
        ++first;
        // Removing a later observer mid-post keeps it from being called.
        center.removeObserver(secondId);
        center.addObserver("x", nullptr, [&](const Notification &) { ++added; });
    });
    secondId = center.addObserver("x", nullptr, [&](const Notification &) { ++second; });
    center.post("x");
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(added, 0); // added during the post: sees only later posts
    center.post("x");
    EXPECT_EQ(added, 1);
}

TEST(PlatformNotificationCenter, DefaultCenterIsShared)
{
    auto &center = NotificationCenter::defaultCenter();
    EXPECT_EQ(&center, &NotificationCenter::defaultCenter());
    QObject context;
    bool got = false;
    center.addObserver("PlatformNotificationCenterTest", nullptr, [&](const Notification &) { got = true; }, &context);
    center.post("PlatformNotificationCenterTest");
    EXPECT_TRUE(got);
}
