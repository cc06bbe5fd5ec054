#include "kit/VLLongProcess.h"

#include "kit/VLLongProcessPanel.h"
#include "platform/Dispatch.h"
#include "platform/ThreadPools.h"

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <mutex>

struct VLLongProcess::State {
    std::atomic<qint64> totalCount{100};
    std::atomic<qint64> progressCount{0};
    std::atomic<bool> finished{false};
    double windowPopUpDelay = 0.75;
    double progressRefreshDelay = 0.125;
    QString windowTitle = QStringLiteral("Busy");
    QString progressStringFormat = QStringLiteral("Done %d of %d");
    std::unique_ptr<VLLongProcessPanel> panel;
    std::function<void()> windowPopUpBlock;
    std::function<void()> progressRefreshBlock;
    FinishedBlock processFinishedBlock;
    ProgressBlock progressBlock;
    // Guards the fields that the main thread reads while the caller sets them.
    mutable std::mutex mutex;

    bool stillRunning() const
    {
        return !finished.load() && progressCount.load() < totalCount.load();
    }
};

namespace {

// Runs `fn` on the main thread after `seconds`.
void afterDelayOnMain(double seconds, std::function<void()> fn)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    QTimer::singleShot(std::max(0, int(seconds * 1000.0 + 0.5)), app, std::move(fn));
}

void popUp(const std::shared_ptr<VLLongProcess::State> &state);

void refresh(const std::shared_ptr<VLLongProcess::State> &state)
{
    if (!state->stillRunning())
        return;
    const qint64 done = state->progressCount.load();
    const qint64 total = state->totalCount.load();
    QString format;
    VLLongProcess::ProgressBlock progressBlock;
    double delay;
    std::function<void()> again;
    {
        std::lock_guard lock(state->mutex);
        format = state->progressStringFormat;
        progressBlock = state->progressBlock;
        delay = state->progressRefreshDelay;
        again = state->progressRefreshBlock;
    }
    if (state->panel) {
        state->panel->setLabelText(VLLongProcess::formatProgress(format, done, total));
        state->panel->setProgressValue(done);
    }
    if (progressBlock)
        progressBlock(done, total);
    if (again)
        afterDelayOnMain(delay, again);
}

void popUp(const std::shared_ptr<VLLongProcess::State> &state)
{
    if (!state->stillRunning())
        return;
    VLLongProcessPanel::Spec spec;
    std::function<void()> refreshBlock;
    {
        std::lock_guard lock(state->mutex);
        spec.title = state->windowTitle;
        spec.maximum = state->totalCount.load();
        spec.widestLabel = VLLongProcess::formatProgress(state->progressStringFormat, spec.maximum,
                                                         spec.maximum);
        refreshBlock = state->progressRefreshBlock;
    }
    if (const auto &factory = VLLongProcessPanel::factory())
        state->panel = factory(spec);
    if (refreshBlock)
        refreshBlock();
}

} // namespace

VLLongProcess::VLLongProcess()
    : d(std::make_shared<State>())
{
    d->windowPopUpBlock = defaultWindowPopupBlock();
    d->progressRefreshBlock = defaultProgressRefreshBlock();
}

VLLongProcess::~VLLongProcess() = default;

qint64 VLLongProcess::totalCount() const { return d->totalCount.load(); }
void VLLongProcess::setTotalCount(qint64 count) { d->totalCount.store(count); }
qint64 VLLongProcess::progressCount() const { return d->progressCount.load(); }
void VLLongProcess::setProgressCount(qint64 count) { d->progressCount.store(count); }

double VLLongProcess::windowPopUpDelay() const
{
    std::lock_guard lock(d->mutex);
    return d->windowPopUpDelay;
}

void VLLongProcess::setWindowPopUpDelay(double seconds)
{
    std::lock_guard lock(d->mutex);
    d->windowPopUpDelay = seconds;
}

double VLLongProcess::progressRefreshDelay() const
{
    std::lock_guard lock(d->mutex);
    return d->progressRefreshDelay;
}

void VLLongProcess::setProgressRefreshDelay(double seconds)
{
    std::lock_guard lock(d->mutex);
    d->progressRefreshDelay = seconds;
}

QString VLLongProcess::windowTitle() const
{
    std::lock_guard lock(d->mutex);
    return d->windowTitle;
}

void VLLongProcess::setWindowTitle(const QString &title)
{
    std::lock_guard lock(d->mutex);
    d->windowTitle = title;
}

QString VLLongProcess::progressStringFormat() const
{
    std::lock_guard lock(d->mutex);
    return d->progressStringFormat;
}

void VLLongProcess::setProgressStringFormat(const QString &format)
{
    std::lock_guard lock(d->mutex);
    d->progressStringFormat = format;
}

void VLLongProcess::setProcessFinishedBlock(FinishedBlock block)
{
    std::lock_guard lock(d->mutex);
    d->processFinishedBlock = std::move(block);
}

bool VLLongProcess::hasProcessFinishedBlock() const
{
    std::lock_guard lock(d->mutex);
    return bool(d->processFinishedBlock);
}

void VLLongProcess::setProgressBlock(ProgressBlock block)
{
    std::lock_guard lock(d->mutex);
    d->progressBlock = std::move(block);
}

bool VLLongProcess::isFinished() const { return d->finished.load(); }

VLLongProcessPanel *VLLongProcess::progressPanel() const { return d->panel.get(); }

std::function<void()> VLLongProcess::defaultWindowPopupBlock() const
{
    std::weak_ptr<State> weak = d;
    return [weak] {
        if (auto state = weak.lock())
            popUp(state);
    };
}

std::function<void()> VLLongProcess::defaultProgressRefreshBlock() const
{
    std::weak_ptr<State> weak = d;
    return [weak] {
        if (auto state = weak.lock())
            refresh(state);
    };
}

static void finish(const std::shared_ptr<VLLongProcess::State> &state)
{
    state->finished.store(true);
    if (state->panel) {
        state->panel->close();
        state->panel.reset();
    }
    VLLongProcess::FinishedBlock block;
    {
        std::lock_guard lock(state->mutex);
        block = std::move(state->processFinishedBlock);
        state->processFinishedBlock = nullptr;
    }
    if (block)
        block();
}

void VLLongProcess::finishedBackgroundTask()
{
    finish(d);
}

void VLLongProcess::runInBackground(std::function<void()> work)
{
    std::function<void()> popUpBlock;
    double delay;
    {
        std::lock_guard lock(d->mutex);
        popUpBlock = d->windowPopUpBlock;
        delay = d->windowPopUpDelay;
    }
    if (popUpBlock)
        afterDelayOnMain(delay, popUpBlock);
    // The work holds the state until its finish has run on the main thread.
    std::shared_ptr<State> state = d;
    platform::runInBackground([state, work = std::move(work)] {
        if (work)
            work();
        platform::runOnMainThread([state] { finish(state); }, true);
    });
}

QString VLLongProcess::formatProgress(const QString &format, qint64 done, qint64 total)
{
    const qint64 values[2] = {done, total};
    int used = 0;
    QString out;
    out.reserve(format.size() + 16);
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c != u'%') {
            out.append(c);
            continue;
        }
        if (i + 1 < format.size() && format.at(i + 1) == u'%') {
            out.append(u'%');
            ++i;
            continue;
        }
        qsizetype j = i + 1;
        while (j < format.size() && (format.at(j) == u'l' || format.at(j) == u'q'))
            ++j;
        if (j < format.size() && (format.at(j) == u'd' || format.at(j) == u'i' || format.at(j) == u'u')
            && j - i - 1 <= 2) {
            out.append(used < 2 ? QString::number(values[used]) : QString());
            ++used;
            i = j;
            continue;
        }
        out.append(c); // not a placeholder we fill: shown as written
    }
    return out;
}
