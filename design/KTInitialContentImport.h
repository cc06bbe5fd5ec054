#pragma once

#include "platform/Error.h"
#include "stores/AppDelegateServices.h"
#include "stores/KTFrameLibraryImporter.h"

#include <QObject>

class LibraryStore;
class TemplatesStore;

// The first-run import of a profile without any window: the frame library
// among the resources into the library store, then the built-in designs
// into the templates store, each saved before the import counts as done.
// Hand it to the LibraryStore as its services; opening the store queues the
// import when the profile needs it. A damaged store file is left where it
// is: no one is there to agree to moving it aside.
class KTInitialContentImport : public QObject, public AppDelegateServices, public KTFrameLibraryImporterDelegate
{
    Q_OBJECT
public:
    static constexpr const char *kInitialFramesResource = "InitialFrames";
    static constexpr const char *kInitialFramesExtension = "ktframes";

    explicit KTInitialContentImport(QObject *parent = nullptr);

    // The stores it fills; the templates store may be set once the library
    // store is open (its import follows the frames).
    void setLibraryStore(LibraryStore *store) { m_library = store; }
    void setTemplatesStore(TemplatesStore *store) { m_templates = store; }

    // An import was queued or runs.
    bool isImporting() const { return m_importing; }
    // The built-in designs are due: the frames are in and the designs'
    // store is new (or the frames came in this run).
    bool needsInitialTemplates() const;
    // Imports the built-in designs and saves them; false when they could not be saved.
    bool importInitialTemplates(platform::Error *error = nullptr);

    // AppDelegateServices
    void importInitialFrames() override;
    void setNeedToImportInitialTemplates(bool need) override;
    bool shouldMoveDamagedStoreAside(const QString &path, const platform::Error &error) override;

signals:
    void progress(double fraction);
    // The frames (and the designs after them) are in and saved, or not.
    void finished(bool succeeded);

private:
    void importerDidFinish(KTFrameLibraryImporter *importer) override;
    void importerFailedWithError(KTFrameLibraryImporter *importer, const platform::Error &error) override;
    void importerProgress(KTFrameLibraryImporter *importer, double fraction) override;
    void end(bool succeeded);

    LibraryStore *m_library = nullptr;
    TemplatesStore *m_templates = nullptr;
    bool m_importing = false;
    bool m_needTemplates = false;
};
