#pragma once

#include <QString>

#include <functional>
#include <memory>

class VLLongProcessPanel;

// Runs one piece of work on a background thread and, only when it is still
// running after a short delay, shows a progress panel that counts the work
// done against the total. When the work ends the panel closes and the
// finished block runs once, on the main thread.
//
// The object is a handle: the running work keeps the state alive until its
// finish has run, so the caller may drop the handle early.
class VLLongProcess
{
public:
    VLLongProcess();
    ~VLLongProcess();
    VLLongProcess(const VLLongProcess &) = delete;
    VLLongProcess &operator=(const VLLongProcess &) = delete;

    qint64 totalCount() const;
    void setTotalCount(qint64 count);
    // Any thread may set the count while the work runs.
    qint64 progressCount() const;
    void setProgressCount(qint64 count);
    double windowPopUpDelay() const;
    void setWindowPopUpDelay(double seconds);
    double progressRefreshDelay() const;
    void setProgressRefreshDelay(double seconds);
    QString windowTitle() const;
    void setWindowTitle(const QString &title);
    QString progressStringFormat() const;
    void setProgressStringFormat(const QString &format);

    using FinishedBlock = std::function<void()>;
    using ProgressBlock = std::function<void(qint64 done, qint64 total)>;
    void setProcessFinishedBlock(FinishedBlock block);
    bool hasProcessFinishedBlock() const;
    void setProgressBlock(ProgressBlock block);

    // Starts the work and returns at once.
    void runInBackground(std::function<void()> work);
    // The end of the work, on the main thread; called by the runner.
    void finishedBackgroundTask();

    bool isFinished() const;
    // The panel while it is shown (main thread), else null.
    VLLongProcessPanel *progressPanel() const;

    // The default pop-up and refresh steps, bound weakly to this process.
    std::function<void()> defaultWindowPopupBlock() const;
    std::function<void()> defaultProgressRefreshBlock() const;

    // Fills the integer placeholders of a label format (%d, %i, %ld, %lld,
    // %u, %lu, %llu; "%%" is a percent sign) with the values in order. The
    // format is never handed to printf, so any text in it is shown as is.
    static QString formatProgress(const QString &format, qint64 done, qint64 total);

    struct State;

private:
    std::shared_ptr<State> d;
};
