#include "library/LibraryUpdates.h"

#include "app/AppDelegate.h"
#include "library/LibraryUpdateService.h"
#include "library/LibraryUpdateWindowController.h"
#include "platform/Alert.h"
#include "platform/Dispatch.h"
#include "platform/ThreadPools.h"
#include "stores/Frame.h"
#include "stores/FrameCollection.h"
#include "stores/FrameSet.h"
#include "stores/LibraryStore.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>

LibraryUpdates::LibraryUpdates(LibraryStore *library, std::function<void()> save, QObject *parent)
    : QObject(parent)
    , m_library(library)
    , m_save(std::move(save))
{
}

LibraryUpdates::~LibraryUpdates()
{
    delete m_windowController;
}

LibraryStore *LibraryUpdates::library() const
{
    if (m_library)
        return m_library;
    AppDelegate *delegate = AppDelegate::shared();
    return delegate ? delegate->libraryStore() : nullptr;
}

LibraryUpdateWindowController *LibraryUpdates::windowController()
{
    if (!m_windowController)
        m_windowController = new LibraryUpdateWindowController(library());
    return m_windowController;
}

bool LibraryUpdates::isUpdating() const
{
    return m_windowController && m_windowController->isUpdating();
}

void LibraryUpdates::cancelLibraryUpdate()
{
    if (!isUpdating())
        return;
    // The run waits on this thread for its store changes: keep serving
    // events until it has wound down.
    QEventLoop loop;
    connect(m_windowController, &LibraryUpdateWindowController::updatingChanged, &loop, [&loop](bool updating) {
        if (!updating)
            loop.quit();
    });
    QTimer::singleShot(kCancelWaitMs, &loop, &QEventLoop::quit);
    m_windowController->cancelButtonPressed();
    if (isUpdating())
        loop.exec();
}

void LibraryUpdates::checkForLibraryUpdates(bool fromMenu)
{
    if (!library()) {
        emit checkEnded();
        return;
    }
    const auto count = windowController()->checkUpdates();
    // The count waits on the network; the answer comes back here, or
    // nowhere when this object is gone by then.
    QPointer<LibraryUpdates> self(this);
    platform::runInBackground([count, self, fromMenu] {
        const std::optional<QStringList> counts = count();
        platform::runOnMainThread([self, counts, fromMenu] {
            if (self)
                self->countsArrived(counts, fromMenu);
        }, false);
    });
}

void LibraryUpdates::countsArrived(const std::optional<QStringList> &counts, bool fromMenu)
{
    // No answer from the service: said only to a user who asked.
    if (!counts && fromMenu) {
        platform::AlertRequest request;
        request.style = platform::AlertRequest::Style::Warning;
        request.messageText = QString::fromLatin1(kUnreachableTitle);
        request.informativeText = QString::fromLatin1(kUnreachableText);
        platform::runAlert(request);
    } else if (counts) {
        const bool pending = std::any_of(counts->begin(), counts->end(), [](const QString &c) { return c != "0"; });
        platform::AlertRequest request;
        request.style = platform::AlertRequest::Style::Informational;
        if (pending) {
            request.messageText = QString::fromLatin1(kUpdatesTitle);
            request.informativeText = tr(kStandardCount, nullptr, counts->value(0).toInt());
            if (counts->size() > 1)
                request.informativeText += tr(kProCount, nullptr, counts->value(1).toInt());
            request.buttons = {QString::fromLatin1(kUpdateNowButton), QString::fromLatin1(kSkipButton)};
            if (platform::runAlert(request) == 0)
                updateLibrary();
        } else if (fromMenu) {
            request.messageText = QString::fromLatin1(kNoUpdatesTitle);
            request.informativeText = QString::fromLatin1(kNoUpdatesText);
            platform::runAlert(request);
        }
    }
    emit checkEnded();
}

void LibraryUpdates::updateLibrary()
{
    LibraryUpdateWindowController *controller = windowController();
    controller->showWindow();
    controller->startUpdating();
}

void LibraryUpdates::resetLibraryUpdates()
{
    LibraryStore *store = library();
    if (!store)
        return;
    store->setValueForLibraryMetadataKey(QVariant(), QString::fromLatin1(LibraryUpdateEngine::kLastUpdateDateKey));
    store->setValueForLibraryMetadataKey(QVariant(), QString::fromLatin1(LibraryUpdateEngine::kProUpdatedKey));
    platform::ManagedObjectContext *moc = store->managedObjectContext();
    if (!moc)
        return;
    const QDateTime past = LibraryUpdateService::distantPast();
    for (Frame *frame : moc->fetchObjects<Frame>())
        frame->setLastUpdated(past);
    for (FrameSet *set : moc->fetchObjects<FrameSet>())
        set->setLastUpdated(past);
    for (FrameCollection *collection : moc->fetchObjects<FrameCollection>())
        collection->setLastUpdated(past);
    if (m_save)
        m_save();
    else if (AppDelegate *delegate = AppDelegate::shared())
        delegate->saveFramesDatabase(moc);
}
