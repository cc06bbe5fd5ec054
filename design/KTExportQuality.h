#pragma once

#include <QString>

namespace platform {
class UserDefaults;
}

// The JPEG quality exports are written at unless the user chose one for the
// export itself: the preference "OutputImageQuality", a percent from 1 to
// 100. A stored value that is no such number gives the factory value and
// one warning line, not a photo written at the lowest quality.
struct KTExportQuality {
    static constexpr int kFactoryPercent = 90;
    static constexpr const char *kUnusableWarning =
        "Warning: The setting OutputImageQuality “%1” in %2 is not a JPEG quality from 1 to 100; %3 is used.";

    // The percent, 1 to 100.
    static double percentFromDefaults(const platform::UserDefaults &defaults);
    // The same as 0 to 1, as exports take it.
    static double fromDefaults(const platform::UserDefaults &defaults);
};
