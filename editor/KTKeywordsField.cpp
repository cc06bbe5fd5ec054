#include "editor/KTKeywordsField.h"

#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QKeyEvent>

#include <algorithm>

namespace {
constexpr int kGap = 4;
constexpr int kMargin = 3;
constexpr int kMinimumEditorWidth = 60;
} // namespace

KTKeywordsField::KTKeywordsField(QWidget *parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("keywordsTokenField"));
    setFrameShape(QFrame::StyledPanel);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_editor = new QLineEdit(this);
    m_editor->setFrame(false);
    m_editor->installEventFilter(this);
    connect(m_editor, &QLineEdit::textEdited, this, [this](const QString &text) {
        if (!text.contains(QLatin1Char(',')))
            return;
        const QStringList parts = text.split(QLatin1Char(','));
        for (const QString &part : parts.mid(0, parts.size() - 1))
            commit(part);
        m_editor->setText(parts.last().trimmed());
    });
}

void KTKeywordsField::setKeywords(const QStringList &keywords)
{
    m_keywords.clear();
    for (const QString &k : keywords) {
        if (!k.trimmed().isEmpty() && !m_keywords.contains(k.trimmed()))
            m_keywords << k.trimmed();
    }
    m_editor->clear();
    rebuildChips();
}

void KTKeywordsField::setReadOnly(bool readOnly)
{
    m_readOnly = readOnly;
    m_editor->setVisible(!readOnly);
    rebuildChips();
}

void KTKeywordsField::commit(const QString &text)
{
    const QString keyword = text.trimmed();
    if (m_readOnly || keyword.isEmpty() || m_keywords.contains(keyword))
        return;
    m_keywords << keyword;
    rebuildChips();
    emit editingFinished();
}

void KTKeywordsField::rebuildChips()
{
    qDeleteAll(m_chips);
    m_chips.clear();
    for (const QString &keyword : std::as_const(m_keywords)) {
        auto *chip = new QToolButton(this);
        chip->setObjectName(QStringLiteral("keywordChip"));
        chip->setText(m_readOnly ? keyword : keyword + QStringLiteral("  ×"));
        chip->setToolTip(m_readOnly ? QString() : tr("Remove keyword %1").arg(keyword));
        chip->setStyleSheet(QStringLiteral("QToolButton { background: rgb(88, 100, 120); color: white; border-radius: 8px;"
                                           " padding: 1px 8px; }"));
        chip->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(chip, &QToolButton::clicked, this, [this, keyword] {
            if (m_readOnly)
                return;
            m_keywords.removeAll(keyword);
            // Later, not inside the chip's own click.
            QMetaObject::invokeMethod(this, [this] {
                rebuildChips();
                emit editingFinished();
            }, Qt::QueuedConnection);
        });
        connect(chip, &QWidget::customContextMenuRequested, this, [this, chip, keyword](const QPoint &at) {
            emit chipMenuRequested(keyword, chip->mapToGlobal(at));
        });
        chip->show();
        m_chips << chip;
    }
    layOut(width(), true);
    updateGeometry();
}

int KTKeywordsField::layOut(int width, bool apply)
{
    int x = kMargin;
    int y = kMargin;
    const int rowHeight = std::max(m_editor->sizeHint().height(), m_chips.isEmpty() ? 0 : m_chips.first()->sizeHint().height());
    for (QToolButton *chip : std::as_const(m_chips)) {
        const QSize size = chip->sizeHint();
        if (x > kMargin && x + size.width() > width - kMargin) {
            x = kMargin;
            y += rowHeight + kGap;
        }
        if (apply)
            chip->setGeometry(x, y + (rowHeight - size.height()) / 2, std::min(size.width(), width - 2 * kMargin), size.height());
        x += size.width() + kGap;
    }
    if (!m_readOnly) {
        if (x > kMargin && x + kMinimumEditorWidth > width - kMargin) {
            x = kMargin;
            y += rowHeight + kGap;
        }
        if (apply)
            m_editor->setGeometry(x, y, std::max(kMinimumEditorWidth, width - kMargin - x), rowHeight);
    }
    return y + rowHeight + kMargin;
}

int KTKeywordsField::heightForWidth(int width) const
{
    return const_cast<KTKeywordsField *>(this)->layOut(width, false);
}

QSize KTKeywordsField::sizeHint() const
{
    return QSize(200, heightForWidth(std::max(width(), 200)));
}

void KTKeywordsField::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    layOut(width(), true);
}

bool KTKeywordsField::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_editor.data()) {
        if (event->type() == QEvent::KeyPress) {
            auto *key = static_cast<QKeyEvent *>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                const QString text = m_editor->text();
                m_editor->clear();
                commit(text);
                return true;
            }
            if (key->key() == Qt::Key_Backspace && m_editor->text().isEmpty() && !m_keywords.isEmpty()) {
                m_keywords.removeLast();
                rebuildChips();
                emit editingFinished();
                return true;
            }
        } else if (event->type() == QEvent::FocusOut
                   && static_cast<QFocusEvent *>(event)->reason() != Qt::PopupFocusReason) {
            const QString text = m_editor->text();
            m_editor->clear();
            commit(text);
        }
    }
    return QFrame::eventFilter(watched, event);
}
