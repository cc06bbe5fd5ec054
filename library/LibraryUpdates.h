#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class LibraryStore;
class LibraryUpdateWindowController;

// The application's side of library updates: the check for pending updates
// (at start-up and from the menu) with its offer to update, the one update
// window, and forgetting what was updated.
class LibraryUpdates : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *kUpdatesTitle = "Frame library has updates available";
    static constexpr const char *kStandardCount = "The Standard library has %n updated item(s)";
    static constexpr const char *kProCount = "\rThe Pro library has %n updated item(s)";
    static constexpr const char *kUpdateNowButton = "Update library now";
    static constexpr const char *kSkipButton = "Skip";
    static constexpr const char *kNoUpdatesTitle = "No updates available";
    static constexpr const char *kNoUpdatesText = "Frame library has no updates at this time.\rCheck again later.";
    static constexpr const char *kUnreachableTitle = "Couldn't check for library updates";
    static constexpr const char *kUnreachableText =
        "The library update service could not be reached, or its answer could not be read.\nCheck your internet "
        "connection and try again later.";

    // `library` null: the application delegate's. `save` saves the frames
    // context after a reset (the delegate's delayed save when empty).
    explicit LibraryUpdates(LibraryStore *library = nullptr, std::function<void()> save = {},
                            QObject *parent = nullptr);
    ~LibraryUpdates() override;

    // The window controller, made on first need.
    LibraryUpdateWindowController *windowController();
    // Counts on a thread of its own and offers the update; `fromMenu`
    // also says when there is nothing to update, or no answer.
    void checkForLibraryUpdates(bool fromMenu);
    void updateLibrary();
    // Both libraries count as never updated afterwards.
    void resetLibraryUpdates();
    bool isUpdating() const;
    // Stops a running update and returns once it has ended (or after
    // kCancelWaitMs, should the run not answer).
    void cancelLibraryUpdate();
    static constexpr int kCancelWaitMs = 10000;

signals:
    // A check ended (with or without an alert); tests wait on it.
    void checkEnded();

private:
    void countsArrived(const std::optional<QStringList> &counts, bool fromMenu);
    LibraryStore *library() const;

    LibraryStore *m_library;
    std::function<void()> m_save;
    LibraryUpdateWindowController *m_windowController = nullptr;
};
