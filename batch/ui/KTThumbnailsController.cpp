#include "batch/ui/KTThumbnailsController.h"

#include "batch/KTBatchProcessingCoordinator.h"

#include <QApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

namespace {

constexpr int kMargin = 6;
constexpr int kPixmapRole = Qt::UserRole + 1;

QRect pictureArea(const QRect &cell)
{
    const int side = KTThumbnailsController::kThumbnailSide;
    return QRect(cell.x() + (cell.width() - side) / 2, cell.y() + kMargin, side, side);
}

// Draws a thumbnail, its name, a placeholder while it is missing, and over the
// item under the pointer a translucent darkening with a magnifier button.
class ThumbnailDelegate : public QStyledItemDelegate
{
public:
    explicit ThumbnailDelegate(KTThumbnailsController *view) : QStyledItemDelegate(view), m_view(view) {}

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const override
    {
        return QSize(KTThumbnailsController::kThumbnailSide + 2 * kMargin,
                     KTThumbnailsController::kThumbnailSide + 3 * kMargin + option.fontMetrics.height());
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QPalette &palette = option.palette;
        const bool selected = option.state & QStyle::State_Selected;
        if (selected) {
            painter->setPen(Qt::NoPen);
            painter->setBrush(palette.color(QPalette::Highlight));
            painter->drawRoundedRect(option.rect.adjusted(1, 1, -1, -1), 5, 5);
        }
        const QRect area = pictureArea(option.rect);
        const int row = index.row();
        const KTThumbnailsController::State state = m_view->stateOf(row);
        const QPixmap pixmap = index.data(kPixmapRole).value<QPixmap>();
        QRect picture = area;
        if (state == KTThumbnailsController::State::Ready && !pixmap.isNull()) {
            const QSizeF size = pixmap.deviceIndependentSize().scaled(QSizeF(area.size()), Qt::KeepAspectRatio);
            picture = QRect(QPoint(0, 0), size.toSize());
            picture.moveCenter(area.center());
            painter->drawPixmap(picture, pixmap);
        } else {
            painter->setPen(palette.color(QPalette::Mid));
            painter->setBrush(palette.color(QPalette::AlternateBase));
            painter->drawRoundedRect(area.adjusted(4, 4, -4, -4), 6, 6);
            painter->setPen(palette.color(QPalette::PlaceholderText));
            const QString text = state == KTThumbnailsController::State::Loading  ? QObject::tr("Framing…")
                                 : state == KTThumbnailsController::State::Failed ? QObject::tr("Can't be read")
                                                                                  : QObject::tr("No design");
            painter->drawText(area, Qt::AlignCenter | Qt::TextWordWrap, text);
        }
        if (row == m_view->hoveredRow() && state == KTThumbnailsController::State::Ready) {
            painter->fillRect(picture, QColor(0, 0, 0, 150));
            const QRectF button = m_view->hoverButtonRect(row);
            painter->setPen(Qt::NoPen);
            painter->setBrush(QColor(255, 255, 255, 220));
            painter->drawEllipse(button);
            // A magnifier: a ring and its handle.
            QPen pen(QColor(40, 40, 40), 2.5);
            pen.setCapStyle(Qt::RoundCap);
            painter->setPen(pen);
            painter->setBrush(Qt::NoBrush);
            const double r = button.width() * 0.2;
            const QPointF c = button.center() - QPointF(r * 0.35, r * 0.35);
            painter->drawEllipse(c, r, r);
            painter->drawLine(c + QPointF(r * 0.72, r * 0.72), c + QPointF(r * 1.6, r * 1.6));
        }
        const QRect textRect(option.rect.x() + 2, area.bottom() + kMargin, option.rect.width() - 4,
                             option.fontMetrics.height());
        painter->setPen(palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawText(textRect, Qt::AlignHCenter | Qt::AlignVCenter,
                          option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle,
                                                        textRect.width()));
        painter->restore();
    }

private:
    KTThumbnailsController *m_view;
};

} // namespace

KTThumbnailsController::KTThumbnailsController(KTBatchProcessingCoordinator *generator, QWidget *parent)
    : QListWidget(parent), m_generator(generator), m_cache(kCachedThumbnails)
{
    setObjectName(QStringLiteral("thumbnailsStrip"));
    setItemDelegate(new ThumbnailDelegate(this));
    setViewMode(QListView::IconMode);
    setFlow(QListView::LeftToRight);
    setWrapping(false);
    setMovement(QListView::Static);
    setUniformItemSizes(true);
    setMouseTracking(true);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    const int textHeight = fontMetrics().height();
    setGridSize(QSize(kThumbnailSide + 2 * kMargin + 8, kThumbnailSide + 3 * kMargin + textHeight + 4));
    setFixedHeight(gridSize().height() + horizontalScrollBar()->sizeHint().height() + 2 * frameWidth() + 4);
    setToolTip(tr("Rest the pointer on a photo and click the magnifier for a larger look"));
    connect(this, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *item) {
        if (row(item) != m_previewRow || !largePreviewWindow())
            toggleLargePreview(row(item));
    });
}

KTThumbnailsController::~KTThumbnailsController()
{
    ++m_generation; // whatever still arrives is dropped
    ++m_previewRequest;
    m_pool.clear();
    waitForPending();
    purgePreviewFile();
    delete m_previewWindow;
}

void KTThumbnailsController::waitForPending()
{
    while (!(m_pool.waitForDone(10) && m_previewPool.waitForDone(10)))
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
}

void KTThumbnailsController::setFiles(const QList<QUrl> &files)
{
    m_files = files;
    reload();
}

void KTThumbnailsController::setTemplateData(const QByteArray &data)
{
    if (data == m_templateData)
        return;
    m_templateData = data;
    m_cache.clear();
    reload();
}

void KTThumbnailsController::reload()
{
    ++m_generation;
    m_pool.clear();
    m_ready = 0;
    m_hoveredRow = -1;
    hideLargePreview();
    clear();
    const State start = m_templateData.isEmpty() ? State::NoDesign : State::Loading;
    m_states = QList<State>(m_files.size(), start);
    const qreal scale = devicePixelRatioF();
    const QSize pixels(qRound(kThumbnailSide * scale), qRound(kThumbnailSide * scale));
    for (int i = 0; i < m_files.size(); ++i) {
        const QUrl file = m_files.at(i);
        auto *item = new QListWidgetItem(QFileInfo(file.toLocalFile()).fileName(), this);
        item->setToolTip(file.toLocalFile());
        if (m_templateData.isEmpty())
            continue;
        if (const QImage *cached = m_cache.object(file)) {
            item->setData(kPixmapRole, QPixmap::fromImage(*cached));
            m_states[i] = State::Ready;
            ++m_ready;
            continue;
        }
        const quint64 generation = m_generation;
        const QByteArray data = m_templateData;
        QPointer<KTThumbnailsController> self(this);
        KTBatchProcessingCoordinator *generator = m_generator;
        m_pool.start([=] {
            QImage image = generator->thumbnailForImageAtURL(file, data, pixels);
            image.setDevicePixelRatio(scale);
            QMetaObject::invokeMethod(self.data(), [=] {
                // A later list or design owns the strip now.
                if (!self || generation != self->m_generation)
                    return;
                QListWidgetItem *target = self->item(i);
                if (!target)
                    return;
                // A photo that can't be framed is not asked for again until the next reload.
                if (image.isNull()) {
                    self->m_states[i] = State::Failed;
                    target->setToolTip(tr("“%1” can't be read.").arg(file.toLocalFile()));
                    self->viewport()->update(self->visualItemRect(target));
                    return;
                }
                self->m_cache.insert(file, new QImage(image));
                self->m_states[i] = State::Ready;
                target->setData(kPixmapRole, QPixmap::fromImage(image));
                ++self->m_ready;
                emit self->thumbnailReady(i);
            }, Qt::QueuedConnection);
        });
    }
}

// --- hover ---

QRect KTThumbnailsController::hoverButtonRect(int row) const
{
    const QListWidgetItem *target = item(row);
    if (!target)
        return {};
    QRect button(0, 0, kHoverButtonSide, kHoverButtonSide);
    button.moveCenter(pictureArea(visualItemRect(target)).center());
    return button;
}

void KTThumbnailsController::setHoveredRow(int row)
{
    if (row == m_hoveredRow)
        return;
    const int previous = m_hoveredRow;
    m_hoveredRow = row;
    for (int changed : {previous, row}) {
        if (QListWidgetItem *target = item(changed))
            viewport()->update(visualItemRect(target));
    }
    viewport()->setCursor(row >= 0 && stateOf(row) == State::Ready ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void KTThumbnailsController::mouseMoveEvent(QMouseEvent *event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    setHoveredRow(index.isValid() ? index.row() : -1);
    QListWidget::mouseMoveEvent(event);
}

void KTThumbnailsController::leaveEvent(QEvent *event)
{
    setHoveredRow(-1);
    QListWidget::leaveEvent(event);
}

void KTThumbnailsController::mousePressEvent(QMouseEvent *event)
{
    const QPoint at = event->position().toPoint();
    const QModelIndex index = indexAt(at);
    if (event->button() == Qt::LeftButton && index.isValid()) {
        setHoveredRow(index.row());
        if (stateOf(index.row()) == State::Ready && hoverButtonRect(index.row()).contains(at)) {
            setCurrentRow(index.row());
            toggleLargePreview(index.row());
            event->accept();
            return;
        }
    }
    QListWidget::mousePressEvent(event);
}

// --- the larger look ---

QWidget *KTThumbnailsController::largePreviewWindow() const
{
    return m_previewWindow && m_previewWindow->isVisible() ? m_previewWindow.data() : nullptr;
}

void KTThumbnailsController::purgePreviewFile()
{
    if (!m_previewFile.isEmpty() && m_generator)
        m_generator->purgeGeneratedPreview(m_previewFile);
    m_previewFile.clear();
}

void KTThumbnailsController::hideLargePreview()
{
    ++m_previewRequest;
    m_previewRow = -1;
    if (m_previewWindow)
        m_previewWindow->hide();
    purgePreviewFile();
}

void KTThumbnailsController::toggleLargePreview(int row)
{
    if (row < 0 || row >= m_files.size() || m_templateData.isEmpty())
        return;
    if (row == m_previewRow && largePreviewWindow()) {
        hideLargePreview();
        return;
    }
    purgePreviewFile();
    m_previewRow = row;
    if (!m_previewWindow) {
        m_previewWindow = new QWidget(window(), Qt::Tool);
        m_previewWindow->setObjectName(QStringLiteral("largePreviewWindow"));
        m_previewImage = new QLabel(m_previewWindow);
        m_previewImage->setAlignment(Qt::AlignCenter);
        m_previewImage->setMinimumSize(240, 180);
        auto *layout = new QVBoxLayout(m_previewWindow);
        layout->addWidget(m_previewImage);
        m_previewWindow->installEventFilter(this);
    }
    const QUrl file = m_files.at(row);
    m_previewWindow->setWindowTitle(QFileInfo(file.toLocalFile()).fileName());
    m_previewImage->setPixmap(QPixmap());
    m_previewImage->setText(tr("Framing a larger look…"));
    m_previewWindow->show();
    m_previewWindow->raise();
    m_previewWindow->activateWindow();

    const quint64 request = ++m_previewRequest;
    const QByteArray data = m_templateData;
    QPointer<KTThumbnailsController> self(this);
    KTBatchProcessingCoordinator *generator = m_generator;
    m_previewPool.start([=] {
        const QUrl preview = generator->largePreviewFileURLForImageAtURL(file, data);
        QMetaObject::invokeMethod(self.data(), [=] {
            if (!self || request != self->m_previewRequest) {
                generator->purgeGeneratedPreview(preview);
                return;
            }
            self->m_previewFile = preview;
            const QPixmap pixmap = preview.isEmpty() ? QPixmap() : QPixmap(preview.toLocalFile());
            if (pixmap.isNull()) {
                self->m_previewImage->setText(tr("“%1” can't be read.").arg(QFileInfo(file.toLocalFile()).fileName()));
            } else {
                self->m_previewImage->setPixmap(pixmap);
                self->m_previewWindow->adjustSize();
            }
            emit self->largePreviewReady(row);
        }, Qt::QueuedConnection);
    });
}

bool KTThumbnailsController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_previewWindow) {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
            hideLargePreview();
            return true;
        }
        // Closed by its window button: the preview file goes too.
        if (event->type() == QEvent::Close && m_previewRow >= 0) {
            ++m_previewRequest;
            m_previewRow = -1;
            purgePreviewFile();
        }
    }
    return QListWidget::eventFilter(watched, event);
}
