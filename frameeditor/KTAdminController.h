#pragma once

#include "frameeditor/KTLibraryExporterForWeb.h"
#include "platform/Error.h"
#include "platform/objectstore/ObjectID.h"
#include "platform/ui/WindowController.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QTableWidget>

#include <functional>

class FrameCollection;
class FrameImage;
class LibraryStore;
class QMenu;

namespace platform {
class ManagedObjectContext;
}

// The maker's maintenance tool for the frame library, present when the
// default "Admin" is "YES": it writes the items changed since a date as the
// update files the library update service serves, imports a collection kept
// in the older folder layout, and starts the web export of the library.
class KTAdminController : public platform::WindowController
{
    Q_OBJECT
public:
    static constexpr const char *kNibName = "Admin";
    static constexpr const char *kImportWindowName = "AdminImport";
    static constexpr const char *kSinceDateKey = "AdminSinceDate";
    static constexpr const char *kExportPathKey = KTLibraryExporterForWeb::kExportPathKey;

    static constexpr const char *kMenuTitle = "Admin";
    static constexpr const char *kExportUpdatesItem = "Export database updates";
    static constexpr const char *kImportItem = "Import v2 Collection";
    static constexpr const char *kWebExportItem = "Export frames for web";

    static constexpr const char *kCollectionsFolder = "Collections";
    static constexpr const char *kSetsFolder = "Sets";
    static constexpr const char *kFramesFolder = "Frames";
    static constexpr const char *kGraphicsFolder = "graphics";
    static constexpr const char *kFrameImagesFolder = "FrameImages";
    static constexpr const char *kFileNameFormat = "%1-%2";
    // Given to imported frames unless the field says otherwise.
    static constexpr const char *kDefaultAuthor = "Velmoorsoft";

    explicit KTAdminController(LibraryStore *library, QObject *parent = nullptr);
    ~KTAdminController() override;

    platform::ManagedObjectContext *moc() const;
    QDateTime dateSince() const { return m_dateSince; }
    // Recounts, reloads the table and selects the collections with changes.
    void setDateSince(const QDateTime &date);

    // Adds the "Admin" menu to every document window.
    void createAdminMenu();
    void fillAdminMenu(QMenu *menu);

    // Opens the tool on the collections changed since the last export.
    void exportDatabaseUpdates();
    void recalculateCountsOfItemsForDate(const QDateTime &date);
    void selectAllNonZeroCountCollections();
    void browseForTargetFolder();
    // Writes the update files of the selected collections into the folder
    // of the path field; true when every file was written. Failures are
    // presented and leave "AdminSinceDate" as it was.
    bool startExport();
    // "yyyyMMdd-HHmmss-GUID", the date in UTC.
    static QString filenameWithDateAndGUID(const QDateTime &date, const QString &guid);
    // Writes the picture's dictionary and copies its graphics file (kept
    // when already there); false with `error` set when a write failed.
    bool exportImageToGraphicsPathFrameImagesPath(FrameImage *image, const QString &graphicsPath,
                                                  const QString &frameImagesPath, platform::Error *error);

    void exportFramesForWeb();
    void importv2Collection();
    void browseAndStartImport();

    // The collections listed, in row order; null where one was deleted since.
    QList<FrameCollection *> collections() const;
    const QList<qint64> &countsOfItems() const { return m_countsOfItems; }
    QTableWidget *collectionsTableView() const { return m_collectionsTableView; }
    QLineEdit *pathTextField() const { return m_pathTextField; }
    QDateTimeEdit *datePicker() const { return m_datePicker; }
    QWidget *importWindow() const { return m_importWindow; }
    QLineEdit *authorField() const { return m_author; }
    QLineEdit *urlField() const { return m_URL; }
    QCheckBox *useAsCatalogRefCheckBox() const { return m_useAsCatalogRef; }

    // What "now" is for the export (tests fix it) and how a finished
    // export shows its folder (tests record it).
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }
    void setOpenFolder(std::function<void(const QString &)> open) { m_openFolder = std::move(open); }
    std::function<void(const QString &)> openFolder() const { return m_openFolder; }

protected:
    QWidget *loadWindow() override;

private:
    QList<FrameCollection *> chosenCollections() const;
    void reloadTable();
    QWidget *buildImportWindow();

    LibraryStore *m_library;
    // By ID: the library may change while the tool is open.
    QList<platform::ObjectID> m_collections;
    QList<qint64> m_countsOfItems;
    QDateTime m_dateSince;
    std::function<QDateTime()> m_clock;
    std::function<void(const QString &)> m_openFolder;
    QPointer<QDateTimeEdit> m_datePicker;
    QPointer<QTableWidget> m_collectionsTableView;
    QPointer<QLineEdit> m_pathTextField;
    QPointer<QWidget> m_importWindow;
    QPointer<QLineEdit> m_author;
    QPointer<QLineEdit> m_URL;
    QPointer<QCheckBox> m_useAsCatalogRef;
};
