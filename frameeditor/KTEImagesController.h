#pragma once

#include "frameeditor/KTEImageItem.h"
#include "frameeditor/KTEImagesGroupModel.h"
#include "platform/ThreadPools.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPixmap>
#include <QListView>
#include <QPointer>
#include <QToolButton>
#include <QSet>
#include <QStringList>

#include <vector>

class FrameImage;
class KTFEWindowInterface;
class QMimeData;
class QPushButton;
class QVBoxLayout;
class QWidget;

namespace platform {
class ManagedObjectContext;
}

// The frame editor's browser of every graphics file of the library: titled
// thumbnails, made in the background, sorted by name or date added,
// optionally grouped into unused and used pictures, filtered by the window's
// images search text. Pictures are added through a file panel or by dropping
// files, removed with undo, and dragged onto the attribute table. A removed
// picture's file is deleted at the end of the run, and only when its removal
// was saved.
class KTEImagesController : public QObject, public KTEImagesGroupModel::Items
{
    Q_OBJECT
public:
    static constexpr double kStartZoom = 0.4;
    static constexpr const char *kAllImagesTitle = QT_TR_NOOP("All images");
    static constexpr const char *kUnusedTitle = QT_TR_NOOP("Unused");
    static constexpr const char *kUsedTitle = QT_TR_NOOP("Used");
    static constexpr const char *kCopyingTitle = QT_TR_NOOP("Copying image files");
    static constexpr const char *kCopyingFormat = QT_TR_NOOP("Copying image %d of %d");

    struct Group {
        QString title;
        int location = 0;
        int length = 0;
    };

    explicit KTEImagesController(KTFEWindowInterface *window, QObject *parent = nullptr);
    ~KTEImagesController() override;

    // The browser with its controls, built on first use.
    QWidget *browserView();

    const std::vector<KTEImageItem> &imagesArray() const override { return m_images; }
    // Type identifiers of the pictures that can be added.
    static QStringList fileTypes();
    static bool acceptsFileType(const QString &path);

    double zoom() const { return m_zoom; }
    void setZoom(double zoom);
    bool groupByUsage() const { return m_groupByUsage; }
    void setGroupByUsage(bool flag);
    bool sortByTimeAdded() const { return m_sortByTimeAdded; }
    void setSortByTimeAdded(bool flag);
    QString filterText() const { return m_filterText; }

    int numberOfGroups() const { return m_groupByUsage ? 2 : 1; }
    Group groupAtIndex(int index) const;

    // Browser indexes (positions in imagesArray) of the selected pictures.
    QList<int> selectionIndexes() const;
    void setSelectionIndexes(const QList<int> &indexes);

    // Reads the records again and shows them.
    void reloadImages();
    void loadImagesFromDB();
    // Selects the picture and scrolls to it when it is shown.
    void selectFrameImage(FrameImage *image);
    // With the administration tool on, shows the picture's file in the file manager.
    void imageDoubleClickedAtIndex(int index);

    // Asks for picture files and adds them.
    void addFrames();
    // Copies the pictures among the files into the library in the
    // background; files of other kinds and unreadable ones are skipped.
    // Ends with imagesAdded.
    void addImagesFromPathsArray(const QStringList &paths);
    void removeSelectedImages();
    void removeImagesAtIndexes(QList<int> indexes);
    // Deletes the files of removed pictures whose removal was saved and whose
    // record did not come back.
    void deleteRemovedFrameImages();
    const QSet<QString> &imagesToDeleteOnExit() const { return m_imagesToDeleteOnExit; }

    // The data a drag of these browser indexes carries.
    QMimeData *mimeDataForIndexes(const QList<int> &indexes) const override;
    // A drop of files holding at least one picture; never the browser's own drag.
    bool allowDrop(const QMimeData *data) const override;
    bool performDrop(const QMimeData *data) override;

    // The thumbnail of the item, a square tile; the placeholder while it is
    // being made, and for a file that can't be read.
    QPixmap thumbnailFor(const KTEImageItem &item) override;
    static QPixmap placeholderThumbnail();

public slots:
    // The window's images search field.
    void filterFrames(const QString &text);

signals:
    // An addition ended; `count` pictures were added.
    void imagesAdded(int count);
    // Pictures were removed: the attribute table shows them no more.
    void imagesRemoved();
    void thumbnailMade(const QString &imageID);

private:
    platform::ManagedObjectContext *context() const;
    QList<FrameImage *> arrangedObjects() const;
    void scheduleRemovals(const QStringList &paths);
    void forgetRemovals(const QStringList &paths);
    void noteSaved();
    void rebuildSections();
    void updateSections();
    void applyZoom();
    // Remove acts only on a selection.
    void updateRemoveButton();

    KTFEWindowInterface *m_window;
    std::vector<KTEImageItem> m_images;
    QList<FrameImage *> m_shownObjects;
    double m_zoom = kStartZoom;
    bool m_groupByUsage = false;
    bool m_sortByTimeAdded = true;
    QString m_filterText;
    QSet<QString> m_imagesToDeleteOnExit;
    // Pending deletions whose removal a later save wrote to the store.
    QSet<QString> m_savedRemovals;

    struct Section {
        QPointer<QToolButton> header;
        QPointer<QListView> view;
        QPointer<KTEImagesGroupModel> model;
    };
    QPointer<QWidget> m_browser;
    QPointer<QPushButton> m_removeButton;
    QPointer<QVBoxLayout> m_sectionsLayout;
    std::vector<Section> m_sections;

    QHash<QString, QPixmap> m_thumbnails;
    QSet<QString> m_thumbnailsInWork;
    platform::WorkQueue m_thumbnailPool{platform::Pool::Previews, 2};
};
