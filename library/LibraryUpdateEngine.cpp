#include "library/LibraryUpdateEngine.h"

#include "library/LibraryUpdateService.h"
#include "platform/Alert.h"
#include "platform/Dispatch.h"
#include "platform/ThreadPools.h"
#include "stores/Frame.h"
#include "stores/FrameCollection.h"
#include "stores/FrameImage.h"
#include "stores/FrameSet.h"
#include "stores/LibraryItemDictionary.h"
#include "stores/LibraryStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QTimer>

namespace LID = LibraryItemDictionary;

// What the main thread and the run share. `engine` is read and cleared on
// the main thread only: once it is null the run's reports go nowhere.
struct LibraryUpdateEngine::Run {
    std::shared_ptr<std::atomic_bool> cancelled = std::make_shared<std::atomic_bool>(false);
    LibraryUpdateEngine *engine = nullptr;
    QUrl serviceURL;
    QString account;
    QString version;
    QString graphicsFolder;
    int timeoutMs = LibraryUpdateService::kDefaultTimeoutMs;
    int deadlineMs = LibraryUpdateService::kDefaultDeadlineMs;

    // Results, written by the run before its end is posted.
    QDateTime newestInserted;
    std::optional<QDateTime> ceiling;
    bool proStepCompleted = false;
};

namespace {

enum class Kind { Collection, Set, Frame };

QString describeDate(const QDateTime &date)
{
    return date.toUTC().toString(Qt::ISODate);
}

} // namespace

// The run, on its own thread. It touches neither the store nor a widget:
// those hops go to the main thread, waiting where the answer matters.
class LibraryUpdateEngine::Worker
{
public:
    explicit Worker(std::shared_ptr<Run> run)
        : m_run(std::move(run))
        , m_service(m_run->cancelled, m_run->timeoutMs, m_run->deadlineMs)
    {
    }

    void run()
    {
        status(QStringLiteral("Initializing"));
        versionCheck();
        if (!stopped())
            serverConfiguration();
        QDateTime since = LibraryUpdateService::distantPast();
        onMain([&](LibraryUpdateEngine &engine) {
            since = engine.dateOfLastUpdate();
            m_proWasUpdated = engine.m_library
                              && engine.m_library->valueForLibraryMetadataKey(QString::fromLatin1(kProUpdatedKey)).isValid();
        });
        libraryStep(false, since);
        libraryStep(true, m_proWasUpdated ? since : LibraryUpdateService::distantPast());

        const std::shared_ptr<Run> run = m_run;
        if (!stopped() && !m_proFailed)
            run->proStepCompleted = m_proStepRan;
        post([run](LibraryUpdateEngine &engine) { engine.finishRun(run); });
    }

private:
    bool stopped() const { return m_service.isCancelled(); }

    // Runs `work` on the main thread without waiting.
    void post(std::function<void(LibraryUpdateEngine &)> work)
    {
        QCoreApplication *app = QCoreApplication::instance();
        if (!app)
            return;
        platform::runOnThreadOf(app, [run = m_run, work = std::move(work)] {
            if (run->engine)
                work(*run->engine);
        }, false);
    }

    // Runs `work` on the main thread and waits for it; false when the
    // engine is gone (the run is then cancelled too).
    bool onMain(const std::function<void(LibraryUpdateEngine &)> &work)
    {
        QCoreApplication *app = QCoreApplication::instance();
        if (!app)
            return false;
        bool done = false;
        platform::runOnThreadOf(app, [this, &work, &done] {
            if (m_run->engine) {
                work(*m_run->engine);
                done = true;
            }
        }, true);
        if (!done)
            m_run->cancelled->store(true);
        return done;
    }

    void status(const QString &text)
    {
        post([text](LibraryUpdateEngine &e) { e.m_reporter->setStatus(text); });
    }
    void progressText(const QString &text)
    {
        post([text](LibraryUpdateEngine &e) { e.m_reporter->setProgressIndicatorText(text); });
    }
    void log(const QString &line)
    {
        post([line](LibraryUpdateEngine &e) { e.m_reporter->addLineToLog(line); });
    }
    void progress(int maximum, int value)
    {
        post([maximum, value](LibraryUpdateEngine &e) { e.m_reporter->setProgress(maximum, value); });
    }

    QUrl serviceURL(const QStringList &segments) const
    {
        return LibraryUpdateService::urlWithSegments(m_run->serviceURL, segments);
    }

    void versionCheck()
    {
        progressText(QStringLiteral("Checking Kantelo version"));
        const platform::Result<QString> newest =
            m_service.stringFromURL(serviceURL({QStringLiteral("check_version"), m_run->version}));
        if (!newest || newest.value().isEmpty() || !LibraryUpdateService::isVersionOlder(m_run->version, newest.value()))
            return;
        const QString own = m_run->version;
        const QString theirs = newest.value();
        onMain([own, theirs](LibraryUpdateEngine &engine) {
            platform::AlertRequest request;
            request.messageText = QString::fromLatin1(kVersionAlertTitle);
            request.informativeText = QString::fromLatin1(kVersionAlertText).arg(theirs, own);
            request.buttons = {QString::fromLatin1(kUpdateKanteloButton), QString::fromLatin1(kContinueButton),
                               QString::fromLatin1(kStopButton)};
            const int choice = platform::runAlert(request);
            if (choice == 1 || !engine.m_run)
                return;
            engine.m_run->cancelled->store(true);
            engine.m_reporter->closeWindow();
            if (choice == 0 && engine.m_applicationUpdateCheck) {
                QTimer::singleShot(int(kApplicationUpdateDelay * 1000), &engine, [&engine] {
                    engine.m_applicationUpdateCheck();
                });
            }
        });
    }

    void serverConfiguration()
    {
        auto base = [this](const char *step, const char *path) -> std::optional<QUrl> {
            progressText(QString::fromLatin1(step));
            const platform::Result<QString> text = m_service.stringFromURL(serviceURL({QString::fromLatin1(path)}));
            return text ? LibraryUpdateService::baseURLFromText(text.value()) : std::nullopt;
        };
        m_standardBase = base("Step 1", "standard_library_url");
        m_graphicsBase = base("Step 2", "graphics_base_url");
        m_proBase = base("Step 3", "pro_library_url");
        log(QStringLiteral("Retrieved server configuration"));
    }

    void libraryStep(bool pro, const QDateTime &since)
    {
        m_stepSince = since;
        log(QString::fromLatin1(pro ? "Fetching Pro library updates since %1" : "Fetching standard library updates since %1")
                .arg(describeDate(since)));
        const QString library = QLatin1String(pro ? "Pro" : "standard");
        const struct {
            Kind kind;
            const char *plural;
            const char *list;
        } lists[] = {{Kind::Collection, "collections", "collections_since"},
                     {Kind::Set, "sets", "sets_since"},
                     {Kind::Frame, "frames", "frames_since"}};
        for (const auto &entry : lists) {
            if (stopped())
                return;
            const QString plural = QString::fromLatin1(entry.plural);
            status(QStringLiteral("Updating %1 %2").arg(library, plural));
            const QString listName = (pro ? QStringLiteral("pro_") : QString()) + QString::fromLatin1(entry.list);
            const platform::Result<QString> answer = m_service.stringFromURL(
                serviceURL({listName, LibraryUpdateService::sinceDateString(since), m_run->account}),
                LibraryUpdateService::kMaxListAnswer);
            const QString which = pro ? QStringLiteral("Pro ") + plural : plural;
            if (!answer) {
                log(QStringLiteral("Couldn't download list of %1 to update").arg(which));
                noteSkipped(QString(), pro);
                continue;
            }
            const QStringList names = LibraryUpdateService::listFromAnswer(answer.value());
            log(QStringLiteral("Number of %1 to update: %2").arg(which).arg(names.size()));
            if (stopped())
                return;
            if (entry.kind == Kind::Collection)
                progressText(LibraryUpdateEngine::tr("Updating %n collection(s)", nullptr, int(names.size())));
            fetchItems(entry.kind, names, pro);
        }
        if (pro)
            m_proStepRan = true;
    }

    // A skipped item (or a whole list) must come again next time: the date
    // of the last update stays before it.
    void noteSkipped(const QString &name, bool pro)
    {
        if (stopped())
            return;
        if (pro && !m_proWasUpdated) {
            // The pro library is fetched in full again until a run completes it.
            m_proFailed = true;
            return;
        }
        const std::optional<QDateTime> date = LibraryUpdateService::dateFromFilename(name);
        const QDateTime limit = date ? std::max(date->addSecs(-1), m_stepSince) : m_stepSince;
        if (!m_run->ceiling || limit < *m_run->ceiling)
            m_run->ceiling = limit;
    }

    enum class Outcome { Inserted, Skipped, SkippedUncounted };

    QStringList fetchItems(Kind kind, const QStringList &names, bool pro)
    {
        static const char *const progressFormats[] = {"Updated %1 of %n collection(s)", "Updated %1 of %n set(s)",
                                                      "Updated %1 of %n frame(s)"};
        const int total = int(names.size());
        int handled = 0;
        QStringList inserted;
        // An empty list is a finished one, not a bar that spins.
        progress(std::max(total, 1), total ? 0 : 1);
        for (const QString &name : names) {
            if (stopped())
                break;
            QString text;
            const Outcome outcome = fetchItem(kind, name, pro, &text);
            if (outcome == Outcome::Inserted)
                inserted.append(text);
            else
                noteSkipped(name, pro);
            if (outcome != Outcome::SkippedUncounted) {
                ++handled;
                progress(total, handled);
                progressText(LibraryUpdateEngine::tr(progressFormats[int(kind)], nullptr, total).arg(handled));
            }
        }
        return inserted;
    }

    // The parent of a set or frame is in the library, fetched by its GUID
    // when it is not yet.
    bool ensureParent(Kind kind, const QString &parentGUID, const QString &name, bool pro)
    {
        const bool forSet = kind == Kind::Set;
        auto present = [&] {
            bool found = false;
            onMain([&](LibraryUpdateEngine &engine) {
                platform::ManagedObjectContext *moc = engine.m_library->managedObjectContext();
                found = forSet ? FrameCollection::frameCollectionWithGUID(parentGUID, moc) != nullptr
                               : FrameSet::frameSetWithGUID(parentGUID, moc) != nullptr;
            });
            return found;
        };
        if (present())
            return true;
        if (stopped())
            return false;
        const QString parent = QLatin1String(forSet ? "Collection" : "Set");
        log(QStringLiteral("Warning: %1 with ID %2 is not in the library. Trying to download it.").arg(parent, parentGUID));
        const QString lookup = QLatin1String(pro ? "pro_" : "") + QLatin1String(forSet ? "collection_with_id" : "set_with_id");
        const platform::Result<QString> parentName =
            m_service.stringFromURL(serviceURL({lookup, parentGUID, m_run->account}));
        if (!parentName || parentName.value().isEmpty()) {
            log(QStringLiteral("ERROR: Can't find missing %1 with ID %2").arg(parent.toLower(), parentGUID));
            return false;
        }
        fetchItems(forSet ? Kind::Collection : Kind::Set, {parentName.value()}, pro);
        if (present())
            return true;
        log(QStringLiteral("ERROR: %1 with ID %2 is still not in the library. Didn't update %3 with ID %4")
                .arg(forSet ? QStringLiteral("Collection") : QStringLiteral("set"), parentGUID,
                     QLatin1String(forSet ? "set" : "frame"), name));
        return false;
    }

    Outcome fetchItem(Kind kind, const QString &name, bool pro, QString *text)
    {
        if (!LibraryUpdateService::isSafeComponent(name)) {
            log(QStringLiteral("ERROR: Skipping an item with the unusable name %1").arg(name.left(80)));
            return Outcome::Skipped;
        }
        const std::optional<QUrl> &base = pro ? m_proBase : m_standardBase;
        if (!base)
            return Outcome::Skipped;
        static const char *const folders[] = {"Collections", "Sets", "Frames"};
        const platform::Result<QString> answer =
            m_service.stringFromURL(LibraryUpdateService::urlWithSegments(*base, {QString::fromLatin1(folders[int(kind)]), name}),
                                    LibraryUpdateService::kMaxItemAnswer);
        if (!answer)
            return Outcome::Skipped;
        const std::optional<QVariantMap> dictionary =
            LibraryUpdateService::dictionaryFromPropertyListString(answer.value());
        if (!dictionary) {
            log(QStringLiteral("ERROR: Couldn't read item %1").arg(name));
            return Outcome::Skipped;
        }

        if (kind == Kind::Set || kind == Kind::Frame) {
            const char *parentKey = kind == Kind::Set ? LID::kFrameCollectionGUID : LID::kFramesetGUID;
            const std::optional<QString> parentGUID = LID::guidForKey(*dictionary, parentKey);
            if (!parentGUID) {
                log(kind == Kind::Set ? QStringLiteral("ERROR: set %1 doesn't have a frameCollectionGUID").arg(name)
                                      : QStringLiteral("ERROR: Frame %1 doesn't have a framesetGUID").arg(name));
                return Outcome::Skipped;
            }
            if (!ensureParent(kind, *parentGUID, name, pro))
                return Outcome::SkippedUncounted;
        }

        bool graphicsPresent = true;
        if (kind == Kind::Frame) {
            // Every graphics file is tried, so the ones that come stay for next time.
            const QVariantMap kinds = LID::dictionaryForKey(*dictionary, LID::kAttributeKinds);
            const QVariantMap values = LID::dictionaryForKey(*dictionary, LID::kAttributes);
            for (auto it = kinds.constBegin(); it != kinds.constEnd(); ++it) {
                if (it->toInt() != LID::KindImage)
                    continue;
                const QVariant value = values.value(it.key());
                const QString guid = value.metaType().id() == QMetaType::QString ? value.toString() : QString();
                if (guid.isEmpty()) {
                    log(QStringLiteral("No image GUID for attribute %1 in frame %2").arg(it.key(), name));
                    graphicsPresent = false;
                    continue;
                }
                if (!fetchImageIfNeeded(guid))
                    graphicsPresent = false;
            }
        } else if (dictionary->contains(QString::fromLatin1(LID::kIconGUID))) {
            const std::optional<QString> icon = LID::guidForKey(*dictionary, LID::kIconGUID);
            graphicsPresent = icon && fetchImageIfNeeded(*icon);
        }
        if (!graphicsPresent)
            return Outcome::Skipped;

        const std::optional<QDateTime> dated = LibraryUpdateService::dateFromFilename(name);
        const QDateTime date = dated ? *dated : QDateTime::currentDateTimeUtc();
        bool inserted = false;
        onMain([&](LibraryUpdateEngine &engine) {
            platform::ManagedObjectContext *moc = engine.m_library->managedObjectContext();
            LibraryItem *item = nullptr;
            switch (kind) {
            case Kind::Collection: item = LID::collectionFromDictionary(*dictionary, moc); break;
            case Kind::Set: item = LID::setFromDictionary(*dictionary, moc); break;
            case Kind::Frame: item = LID::frameFromDictionary(*dictionary, moc); break;
            }
            if (!item)
                return;
            item->setLastUpdated(date);
            item->setLastModified(date);
            inserted = true;
            static const char *const logs[] = {"Updated collection %1", "Updated Set %1", "Updated Frame %1"};
            engine.m_reporter->addLineToLog(QString::fromLatin1(logs[int(kind)]).arg(item->name()));
        });
        if (!inserted) {
            log(QStringLiteral("ERROR: Couldn't add %1 to the library").arg(name));
            return Outcome::Skipped;
        }
        if (dated && (!m_run->newestInserted.isValid() || *dated > m_run->newestInserted))
            m_run->newestInserted = *dated;
        *text = answer.value();
        return Outcome::Inserted;
    }

    bool fetchImageIfNeeded(const QString &guid)
    {
        if (stopped())
            return false;
        if (!LibraryUpdateService::isSafeComponent(guid)) {
            log(QStringLiteral("ERROR: Unusable graphics name %1").arg(guid.left(80)));
            return false;
        }
        const QString path = QDir(m_run->graphicsFolder).filePath(guid);
        bool hasRecord = false;
        onMain([&](LibraryUpdateEngine &engine) {
            hasRecord = FrameImage::frameImageWithGUID(guid, engine.m_library->managedObjectContext()) != nullptr;
        });
        // A file without its record came from a run that stopped halfway: fetched again.
        if (hasRecord && QFileInfo::exists(path))
            return true;
        log(QStringLiteral("Downloading image %1").arg(guid));
        const platform::Result<QString> information =
            m_graphicsBase ? m_service.stringFromURL(LibraryUpdateService::urlWithSegments(
                                                         *m_graphicsBase, {QStringLiteral("FrameImages"), guid}),
                                                     LibraryUpdateService::kMaxItemAnswer)
                           : platform::describedError(QStringLiteral("no graphics address"));
        if (!information) {
            log(QStringLiteral("ERROR: Couldn't load properties for graphics %1").arg(guid));
            return false;
        }
        const std::optional<QVariantMap> dictionary =
            LibraryUpdateService::dictionaryFromPropertyListString(information.value());
        if (!dictionary) {
            log(QStringLiteral("ERROR: Couldn't create information for graphics %1").arg(guid));
            return false;
        }
        const platform::Result<QByteArray> bytes =
            m_service.dataFromURL(LibraryUpdateService::urlWithSegments(*m_graphicsBase, {guid}));
        if (!bytes) {
            log(QStringLiteral("ERROR: Couldn't load graphics data %1").arg(guid));
            return false;
        }
        QDir().mkpath(m_run->graphicsFolder);
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes.value()) != bytes.value().size() || !file.commit()) {
            log(QStringLiteral("ERROR: Couldn't save graphics file to %1").arg(path));
            return false;
        }
        bool recorded = false;
        onMain([&](LibraryUpdateEngine &engine) {
            recorded = LID::frameImageFromDictionary(guid, *dictionary, engine.m_library->managedObjectContext()) != nullptr;
        });
        if (!recorded) {
            log(QStringLiteral("ERROR: Couldn't add graphics %1 to database").arg(guid));
            return false;
        }
        return true;
    }

    std::shared_ptr<Run> m_run;
    LibraryUpdateService m_service;
    std::optional<QUrl> m_standardBase;
    std::optional<QUrl> m_graphicsBase;
    std::optional<QUrl> m_proBase;
    QDateTime m_stepSince;
    bool m_proWasUpdated = false;
    bool m_proStepRan = false;
    bool m_proFailed = false;
};

LibraryUpdateEngine::LibraryUpdateEngine(LibraryUpdateReporter *reporter, LibraryStore *library,
                                         const QString &graphicsFolder, QObject *parent)
    : QObject(parent)
    , m_reporter(reporter)
    , m_library(library)
    , m_graphicsFolder(graphicsFolder.isEmpty() && library ? library->framesGraphicsFolder() : graphicsFolder)
    , m_applicationVersion(QCoreApplication::applicationVersion())
    , m_timeoutMs(LibraryUpdateService::kDefaultTimeoutMs)
    , m_deadlineMs(LibraryUpdateService::kDefaultDeadlineMs)
{
}

LibraryUpdateEngine::~LibraryUpdateEngine()
{
    // A run still going is cancelled, not waited for: it ends by itself.
    if (m_run) {
        m_run->cancelled->store(true);
        m_run->engine = nullptr;
    }
}

void LibraryUpdateEngine::setServiceURL(const QUrl &url)
{
    m_serviceURL = LibraryUpdateService::baseURLFromText(url.toString()).value_or(QUrl());
}

QDateTime LibraryUpdateEngine::dateOfLastUpdate() const
{
    const QVariant value =
        m_library ? m_library->valueForLibraryMetadataKey(QString::fromLatin1(kLastUpdateDateKey)) : QVariant();
    const QDateTime date = value.toDateTime();
    return date.isValid() ? date.toUTC() : LibraryUpdateService::distantPast();
}

std::optional<QStringList> LibraryUpdateEngine::updatesPending()
{
    return pendingUpdatesCount()();
}

std::function<std::optional<QStringList>()> LibraryUpdateEngine::pendingUpdatesCount() const
{
    const QDateTime since = dateOfLastUpdate();
    const bool proUpdated =
        m_library && m_library->valueForLibraryMetadataKey(QString::fromLatin1(kProUpdatedKey)).isValid();
    return [since, proUpdated, service = m_serviceURL, account = m_accountSegment,
            timeout = m_timeoutMs, deadline = m_deadlineMs]() -> std::optional<QStringList> {
        LibraryUpdateService client(nullptr, timeout, deadline);
        auto counts = [&](const QDateTime &from) -> std::optional<QStringList> {
            const platform::Result<QString> answer = client.stringFromURL(LibraryUpdateService::urlWithSegments(
                service, {QStringLiteral("count_updates"), LibraryUpdateService::sinceDateString(from), account}));
            if (!answer)
                return std::nullopt;
            const QStringList fields = answer.value().split(QLatin1Char(' '), Qt::SkipEmptyParts);
            // Two counts or no answer: a lone number would hide the pro library.
            if (fields.size() < 2)
                return std::nullopt;
            for (const QString &field : fields.first(2)) {
                bool number = false;
                field.toULongLong(&number);
                if (!number)
                    return std::nullopt;
            }
            return fields.first(2);
        };
        const std::optional<QStringList> first = counts(since);
        if (!first || proUpdated)
            return first;
        const std::optional<QStringList> full = counts(LibraryUpdateService::distantPast());
        if (!full)
            return std::nullopt;
        return QStringList{first->at(0), full->at(1)};
    };
}

void LibraryUpdateEngine::startUpdate()
{
    if (m_run || !m_library)
        return;
    auto run = std::make_shared<Run>();
    run->engine = this;
    run->serviceURL = m_serviceURL;
    run->account = m_accountSegment;
    run->version = m_applicationVersion;
    run->graphicsFolder = m_graphicsFolder;
    run->timeoutMs = m_timeoutMs;
    run->deadlineMs = m_deadlineMs;
    m_run = run;
    // Quitting asks the run to stop and joins it.
    platform::runInBackground([run] {
        Worker worker(run);
        worker.run();
    });
}

void LibraryUpdateEngine::cancelUpdate()
{
    if (m_run)
        m_run->cancelled->store(true);
}

void LibraryUpdateEngine::finishRun(const std::shared_ptr<Run> &run)
{
    if (m_run == run)
        m_run.reset();
    bool cancelled = run->cancelled->load();
    // The date recorded below says the library holds everything up to it:
    // the items go to its file first, or a crash in between would make every
    // later check skip them.
    platform::Error saveError;
    platform::ManagedObjectContext *moc = m_library && !cancelled ? m_library->managedObjectContext() : nullptr;
    if (moc && moc->hasChanges() && !moc->save(&saveError)) {
        m_reporter->addLineToLog(QStringLiteral("ERROR: Couldn't save the updated library: %1").arg(saveError.description));
        cancelled = true;
    }
    if (!cancelled && m_library) {
        QDateTime date = dateOfLastUpdate();
        if (run->newestInserted.isValid() && run->newestInserted > date)
            date = run->newestInserted;
        if (run->ceiling && *run->ceiling < date)
            date = *run->ceiling;
        m_library->setValueForLibraryMetadataKey(date, QString::fromLatin1(kLastUpdateDateKey));
        if (run->proStepCompleted)
            m_library->setValueForLibraryMetadataKey(QString::fromLatin1(kProUpdatedValue),
                                                     QString::fromLatin1(kProUpdatedKey));
        m_reporter->updateEnded();
    } else {
        m_reporter->updateCancelled();
    }
    emit runEnded(cancelled);
}
