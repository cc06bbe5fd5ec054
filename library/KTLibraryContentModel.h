#pragma once

#include "library/KTLibraryEntry.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QPixmap>
#include <QSet>
#include <QTimer>

// The items the library panel shows, with their icons. Icons are made off
// the interface's path: stored pictures decode on worker threads, and
// frames without a stored icon have theirs built one per turn of the event
// loop, so opening a large set shows its first screen at once and fills in.
class KTLibraryContentModel : public QAbstractListModel
{
    Q_OBJECT

public:
    static constexpr int kIconSide = 96;
    enum Roles { EntryIndexRole = Qt::UserRole + 1, IconLoadedRole };

    explicit KTLibraryContentModel(QObject *parent = nullptr);
    ~KTLibraryContentModel() override;

    void setEntries(const QList<KTLibraryEntry> &entries);
    const QList<KTLibraryEntry> &entries() const { return m_entries; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    // Whether the row's real icon is in (not the placeholder).
    bool isIconLoaded(int row) const;
    // Forgets every icon (the library changed under them).
    void clearIcons();
    // Icons being made or waiting to be built.
    int pendingIconCount() const { return int(m_pending.size()); }

private:
    void requestIcon(const KTLibraryEntry &entry) const;
    void decodeInBackground(const QString &key, QByteArray bytes, QString path) const;
    void iconArrived(const QString &key, const QImage &image);
    void buildNextIcon();
    static QImage fitted(const QImage &image);

    QList<KTLibraryEntry> m_entries;
    mutable QHash<QString, QPixmap> m_icons;
    mutable QSet<QString> m_pending;
    mutable QList<KTLibraryEntry> m_toBuild;
    mutable QTimer m_buildTimer;
    QPixmap m_placeholder;
};
