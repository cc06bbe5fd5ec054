#include "design/KTInitialContentImport.h"

#include "design/TemplatesStore.h"
#include "platform/Bundle.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "stores/LibraryStore.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

using namespace platform;

KTInitialContentImport::KTInitialContentImport(QObject *parent) : QObject(parent) {}

bool KTInitialContentImport::needsInitialTemplates() const
{
    return m_needTemplates || (m_templates && m_templates->needToImportInitialTemplates());
}

bool KTInitialContentImport::importInitialTemplates(Error *error)
{
    ManagedObjectContext *designs = m_templates ? m_templates->templatesManagedObjectContext() : nullptr;
    if (!designs)
        return true;
    const int added = m_templates->importInitialTemplates(m_library ? m_library->managedObjectContext() : nullptr);
    // Saved at once: the built-in designs are not the user's to lose.
    Error failure;
    if (added > 0 && designs->persistentStore() && designs->hasChanges() && !designs->save(&failure)) {
        logLine(QStringLiteral("ERROR: Initial templates could not be saved: %1").arg(failure.description));
        if (error)
            *error = failure;
        return false;
    }
    m_needTemplates = false;
    m_templates->setNeedToImportInitialTemplates(false);
    return true;
}

void KTInitialContentImport::setNeedToImportInitialTemplates(bool need)
{
    m_needTemplates = need;
}

bool KTInitialContentImport::shouldMoveDamagedStoreAside(const QString &, const Error &)
{
    return false;
}

void KTInitialContentImport::importInitialFrames()
{
    if (!m_library)
        return;
    const QString folder = m_library->framesGraphicsFolder();
    if (!QFileInfo(folder).isDir() && !QFileInfo(folder).absoluteDir().mkdir(QFileInfo(folder).fileName()))
        logLine(QStringLiteral("Couldn't create frame graphics folder at %1: %2")
                    .arg(folder, QStringLiteral("the folder could not be made")));

    const QString archive = Bundle::pathForResource(QString::fromLatin1(kInitialFramesResource),
                                                    QString::fromLatin1(kInitialFramesExtension));
    ManagedObjectContext *context = archive.isEmpty() ? nullptr : m_library->managedObjectContext();
    if (!context) {
        logLine(archive.isEmpty() ? QStringLiteral("ERROR: Can't find Initial Frames in bundle")
                                  : QStringLiteral("ERROR: No frames store to import the initial frames into"));
        m_library->releaseImportLock();
        emit finished(false);
        return;
    }
    auto importer = std::make_shared<KTFrameLibraryImporter>(QUrl::fromLocalFile(archive), QUrl::fromLocalFile(folder),
                                                             context);
    importer->setDelegate(this);
    UserDefaults::standard().setBool(QString::fromLatin1(kImportedInitialFramesKey), false);
    m_importing = true;
    importer->startImport(); // a running import keeps itself alive
}

void KTInitialContentImport::importerProgress(KTFrameLibraryImporter *, double fraction)
{
    emit progress(fraction);
}

void KTInitialContentImport::importerDidFinish(KTFrameLibraryImporter *)
{
    // The built-in designs are saved, then the imported library, and only
    // then is the first run recorded: one cut short anywhere before is
    // completed at the next start.
    Error error;
    if (needsInitialTemplates() && !importInitialTemplates(&error)) {
        logLine(QStringLiteral("ERROR: Initial library import failed with %1")
                    .arg(QStringLiteral("the built-in designs could not be saved")));
        error.description = QStringLiteral("The built-in designs could not be saved: %1").arg(error.description);
        presentError(error);
        end(false);
        return;
    }
    if (!m_library->recordInitialFramesImported(&error)) {
        logLine(QStringLiteral("ERROR: Initial library import failed with %1").arg(error.description));
        presentError(error);
        end(false);
        return;
    }
    end(true);
}

void KTInitialContentImport::importerFailedWithError(KTFrameLibraryImporter *, const Error &error)
{
    logLine(QStringLiteral("ERROR: Initial library import failed with %1").arg(error.description));
    // Said as the failure it is, not later as a design that isn't there.
    Error failure = error;
    failure.description = QStringLiteral("The built-in frames could not be imported: %1").arg(error.description);
    presentError(failure);
    end(false);
}

void KTInitialContentImport::end(bool succeeded)
{
    m_library->releaseImportLock();
    m_importing = false;
    emit finished(succeeded);
}
