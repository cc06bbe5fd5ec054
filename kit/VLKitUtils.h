#pragma once

#include <QString>

#include <functional>

namespace platform {
class UserDefaults;
}

// Application facts and launch counters shared by several windows.
class VLKitUtils
{
public:
    static constexpr const char *kLaunchesKey = "Launches";
    static constexpr const char *kLaunchesForFeatureKeyFormat = "Launches-%1"; // feature name

    // From the application bundle, read once and kept.
    static QString shortVersionString();
    static QString versionString();
    static QString applicationName();

    // Counts this start: stores "Launches" raised by 1. The application calls
    // it once at start-up (never from a static initialiser, so that the
    // settings in use are the ones the program chose).
    static void load(platform::UserDefaults &defaults);
    static void load();

    // The stored "Launches" (0 when never stored).
    static qint64 launches(const platform::UserDefaults &defaults);
    static qint64 launches();

    // The feature's launch count, raised by 1 the first time it is asked for
    // in this process and never again in it.
    static qint64 launchesForFeature(const QString &feature, platform::UserDefaults &defaults);
    static qint64 launchesForFeature(const QString &feature);
    static void setLaunchesForFeature(qint64 launches, const QString &feature, platform::UserDefaults &defaults);
    static void setLaunchesForFeature(qint64 launches, const QString &feature);

    // Forgets which features this process has counted: what a new process
    // starts with (tools and tests that stand in for several launches).
    static void forgetCountedFeatures();

    // There is no store application here: the page opens with the default
    // handler for its address. Answers whether it could be opened.
    static bool openMacAppStoreForURL(const QString &url);

    // Runs `block` and answers the time it took in nanoseconds; with a label,
    // logs "<label> executed in <n> ns".
    static qint64 nanosecsToExecuteBlock(const QString &label, const std::function<void()> &block);

    // The transient text popover is a widget: VLTextPopover in kit/ui.

private:
    VLKitUtils() = delete;
};
