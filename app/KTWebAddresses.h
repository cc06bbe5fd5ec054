#pragma once

// Where the web commands of the menus and the welcome window lead: the
// program's own configuration.
struct KTWebAddresses {
    static constexpr const char *kHomepageURL = "https://www.velmoorsoft.com/kantelo";
    static constexpr const char *kTutorialURL = "https://www.velmoorsoft.com/kantelo/tutorial";
    static constexpr const char *kFramePacksURL = "https://www.velmoorsoft.com/kantelo/frames";
    static constexpr const char *kFacebookURL = "https://www.facebook.com/kantelo";
    static constexpr const char *kTwitterURL = "https://twitter.com/velmoorsoft";
    // Where the review window sends a user who wants to rate the program.
    static constexpr const char *kReviewURL = "https://www.velmoorsoft.com/kantelo/review";
    static constexpr const char *kIntegrationsURL = "https://www.velmoorsoft.com/kantelo/support/integrations";
    static constexpr const char *kFeedbackURL = "https://www.velmoorsoft.com/kantelo/feedback";
    static constexpr const char *kFrameLibraryURL = "https://www.velmoorsoft.com/kantelo/library";
};
