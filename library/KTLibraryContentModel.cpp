#include "library/KTLibraryContentModel.h"

#include "library/KTButtonFrame.h"
#include "platform/Dispatch.h"
#include "platform/ThreadPools.h"
#include "platform/imaging/ImageDecoder.h"
#include "stores/Frame.h"
#include "stores/FrameImage.h"

#include <QCoreApplication>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QPointer>

KTLibraryContentModel::KTLibraryContentModel(QObject *parent)
    : QAbstractListModel(parent)
{
    m_buildTimer.setSingleShot(true);
    m_buildTimer.setInterval(0);
    connect(&m_buildTimer, &QTimer::timeout, this, [this] { buildNextIcon(); });

    QImage placeholder(kIconSide, kIconSide, QImage::Format_ARGB32_Premultiplied);
    placeholder.fill(Qt::transparent);
    QPainter p(&placeholder);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(110, 110, 110), 1.5, Qt::DashLine));
    p.setBrush(QColor(255, 255, 255, 18));
    p.drawRoundedRect(QRectF(12.5, 12.5, kIconSide - 25, kIconSide - 25), 6, 6);
    p.end();
    m_placeholder = QPixmap::fromImage(placeholder);
}

KTLibraryContentModel::~KTLibraryContentModel() = default;

void KTLibraryContentModel::setEntries(const QList<KTLibraryEntry> &entries)
{
    beginResetModel();
    m_entries = entries;
    // Builds waiting for entries no longer shown are dropped.
    QList<KTLibraryEntry> keep;
    for (const KTLibraryEntry &e : std::as_const(m_toBuild)) {
        if (m_entries.contains(e))
            keep << e;
        else
            m_pending.remove(e.iconKey());
    }
    m_toBuild = keep;
    endResetModel();
}

int KTLibraryContentModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

QVariant KTLibraryContentModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_entries.size())
        return {};
    const KTLibraryEntry &entry = m_entries.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return entry.name();
    case Qt::DecorationRole: {
        const auto found = m_icons.constFind(entry.iconKey());
        if (found != m_icons.constEnd())
            return *found;
        requestIcon(entry);
        return m_placeholder;
    }
    case EntryIndexRole:
        return index.row();
    case IconLoadedRole:
        return m_icons.contains(entry.iconKey());
    default:
        return {};
    }
}

bool KTLibraryContentModel::isIconLoaded(int row) const
{
    return row >= 0 && row < m_entries.size() && m_icons.contains(m_entries.at(row).iconKey());
}

void KTLibraryContentModel::clearIcons()
{
    m_icons.clear();
    m_pending.clear();
    m_toBuild.clear();
    if (!m_entries.isEmpty())
        emit dataChanged(index(0), index(int(m_entries.size()) - 1), {Qt::DecorationRole});
}

QImage KTLibraryContentModel::fitted(const QImage &image)
{
    if (image.isNull())
        return image;
    if (image.width() <= kIconSide && image.height() <= kIconSide)
        return image;
    return image.scaled(kIconSide, kIconSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

void KTLibraryContentModel::requestIcon(const KTLibraryEntry &entry) const
{
    const QString key = entry.iconKey();
    if (key.isEmpty() || m_pending.contains(key))
        return;
    m_pending.insert(key);
    if (KTButtonFrame *button = entry.button()) {
        const QString k = key;
        QImage image = fitted(button->iconImage());
        QMetaObject::invokeMethod(
            const_cast<KTLibraryContentModel *>(this), [this, k, image] { const_cast<KTLibraryContentModel *>(this)->iconArrived(k, image); },
            Qt::QueuedConnection);
        return;
    }
    if (Frame *frame = entry.frame()) {
        const QByteArray bytes = frame->iconImageData();
        if (bytes.isEmpty()) {
            m_toBuild << entry;
            if (!m_buildTimer.isActive())
                m_buildTimer.start();
            return;
        }
        decodeInBackground(key, bytes, QString());
        return;
    }
    // Sets and collections show a picture file of the library.
    FrameImage *picture = entry.libraryItem() ? entry.libraryItem()->icon() : nullptr;
    decodeInBackground(key, QByteArray(), picture ? picture->imagePath() : QString());
}

void KTLibraryContentModel::decodeInBackground(const QString &key, QByteArray bytes, QString path) const
{
    QPointer<KTLibraryContentModel> self(const_cast<KTLibraryContentModel *>(this));
    platform::runOn(platform::Pool::Previews, [self, key, bytes = std::move(bytes), path = std::move(path)] {
        QImage image;
        if (!bytes.isEmpty()) {
            image = platform::ImageDecoder::rasterFromData(bytes);
        } else if (!path.isEmpty()) {
            QImageReader reader(path);
            // Big pictures are read at icon size straight away.
            const QSize size = platform::ImageDecoder::readsRaster(reader) ? reader.size() : QSize();
            if (size.isValid() && (size.width() > 2 * kIconSide || size.height() > 2 * kIconSide))
                reader.setScaledSize(size.scaled(2 * kIconSide, 2 * kIconSide, Qt::KeepAspectRatio));
            if (size.isValid())
                image = reader.read();
        }
        image = fitted(image);
        // The model is reached on the main thread only, and only while it lives.
        platform::runOnMainThread(
            [self, key, image] {
                if (self)
                    self->iconArrived(key, image);
            },
            false);
    });
}

void KTLibraryContentModel::iconArrived(const QString &key, const QImage &image)
{
    if (!m_pending.remove(key))
        return; // forgotten meanwhile
    // A picture that cannot be had keeps the placeholder, and is not asked for again.
    m_icons.insert(key, image.isNull() ? m_placeholder : QPixmap::fromImage(image));
    for (int row = 0; row < m_entries.size(); ++row) {
        if (m_entries.at(row).iconKey() == key)
            emit dataChanged(index(row), index(row), {Qt::DecorationRole, IconLoadedRole});
    }
}

void KTLibraryContentModel::buildNextIcon()
{
    if (m_toBuild.isEmpty())
        return;
    const KTLibraryEntry entry = m_toBuild.takeFirst();
    if (Frame *frame = entry.frame()) {
        frame->buildIcon();
        iconArrived(entry.iconKey(), fitted(frame->iconImage()));
    }
    if (!m_toBuild.isEmpty())
        m_buildTimer.start();
}
