#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class LibraryStore;

// What an update run shows: the update window implements it. Every call
// arrives on the main thread, in the order the run made it.
class LibraryUpdateReporter
{
public:
    virtual ~LibraryUpdateReporter() = default;
    virtual void setStatus(const QString &status) = 0;
    virtual void setProgressIndicatorText(const QString &text) = 0;
    virtual void addLineToLog(const QString &line) = 0;
    // A maximum of 0 makes the bar indeterminate.
    virtual void setProgress(int maximum, int value) = 0;
    virtual void updateEnded() = 0;
    virtual void updateCancelled() = 0;
    // The version alert's stop choices close the window.
    virtual void closeWindow() = 0;
};

// Brings the frame library up to date from the update service. A run works
// on a thread of its own with its own network manager and waits on the main
// thread for every store change and the version alert; the main thread
// never waits on the run. Cancelling sets a flag that ends the request in
// flight at once; destroying the engine cancels a run and lets it wind down
// by itself.
class LibraryUpdateEngine : public QObject
{
    Q_OBJECT
public:
    // Store metadata.
    static constexpr const char *kLastUpdateDateKey = "lastUpdateDate";
    static constexpr const char *kProUpdatedKey = "proUpdated";
    static constexpr const char *kProUpdatedValue = "YES";

    static constexpr const char *kVersionAlertTitle = "Newer Kantelo is available";
    static constexpr const char *kVersionAlertText =
        "A newer version of Kantelo (%1) is available.\nYour version is %2. It's advisable you first update your "
        "version to the latest, before updating the library";
    static constexpr const char *kUpdateKanteloButton = "I'll update Kantelo";
    static constexpr const char *kContinueButton = "Continue with updating library";
    static constexpr const char *kStopButton = "Stop updating library";
    static constexpr double kApplicationUpdateDelay = 1.0;

    // `library` gives the main context and the metadata; `graphicsFolder` is
    // where graphics files go (the library's graphics folder when empty).
    LibraryUpdateEngine(LibraryUpdateReporter *reporter, LibraryStore *library, const QString &graphicsFolder = {},
                        QObject *parent = nullptr);
    ~LibraryUpdateEngine() override;

    void setServiceURL(const QUrl &url);
    QUrl serviceURL() const { return m_serviceURL; }
    void setAccountSegment(const QString &segment) { m_accountSegment = segment; }
    void setApplicationVersion(const QString &version) { m_applicationVersion = version; }
    void setTimeoutMs(int ms) { m_timeoutMs = ms; }
    // The longest one request may take, however steadily its answer comes.
    void setDeadlineMs(int ms) { m_deadlineMs = ms; }
    // Asked 1 s after "I'll update Kantelo".
    void setApplicationUpdateCheck(std::function<void()> check) { m_applicationUpdateCheck = std::move(check); }

    // The standard and the pro count as the service sent them; none when the
    // service gave no full answer. Synchronous: call it off the main thread
    // in the program (it makes its own network manager on the calling thread).
    std::optional<QStringList> updatesPending();
    // The same count as a self-contained call: what it needs of the store is
    // read now, on the main thread, so it may run on any thread later.
    std::function<std::optional<QStringList>()> pendingUpdatesCount() const;

    void startUpdate();
    void cancelUpdate();
    bool isUpdating() const { return m_run != nullptr; }

    // "lastUpdateDate", or the distant past.
    QDateTime dateOfLastUpdate() const;

signals:
    // The run's end reached the main thread (after the reporter heard it).
    void runEnded(bool cancelled);

private:
    struct Run;
    class Worker;
    friend class Worker;

    void finishRun(const std::shared_ptr<Run> &run);

    LibraryUpdateReporter *m_reporter;
    LibraryStore *m_library;
    QString m_graphicsFolder;
    QUrl m_serviceURL;
    QString m_accountSegment;
    QString m_applicationVersion;
    int m_timeoutMs;
    int m_deadlineMs;
    std::function<void()> m_applicationUpdateCheck;
    std::shared_ptr<Run> m_run;
};
