#include "kit/ui/KTLibraryCollectionViewItem.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {
constexpr int kIconSide = 96;
const char *const kNameKey = "name";

QString nameOf(const QVariant &object)
{
    if (auto *qobject = object.value<QObject *>())
        return qobject->property(kNameKey).toString();
    return object.toMap().value(QString::fromLatin1(kNameKey)).toString();
}
} // namespace

KTLibraryCollectionViewItem::KTLibraryCollectionViewItem(QObject *parent)
    : platform::ViewController(QString::fromLatin1(kNibName), parent)
{
}

QWidget *KTLibraryCollectionViewItem::loadView()
{
    auto *root = new QWidget;
    root->setObjectName(nibName());
    auto *layout = new QVBoxLayout(root);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);

    auto *selection = new QFrame(root);
    selection->setObjectName(QStringLiteral("selectionView"));
    selection->setFixedSize(kIconSide + 12, kIconSide + 12);
    auto *selectionLayout = new QVBoxLayout(selection);
    selectionLayout->setContentsMargins(6, 6, 6, 6);
    auto *image = new QLabel(selection);
    image->setObjectName(QStringLiteral("imageView"));
    image->setAlignment(Qt::AlignCenter);
    image->setFixedSize(kIconSide, kIconSide);
    selectionLayout->addWidget(image);
    layout->addWidget(selection, 0, Qt::AlignHCenter);

    auto *field = new QLineEdit(root);
    field->setObjectName(QStringLiteral("textField"));
    field->setAlignment(Qt::AlignCenter);
    field->setFrame(false);
    field->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; }"));
    layout->addWidget(field);

    m_imageView = image;
    m_textField = field;
    m_selectionView = selection;
    return root;
}

void KTLibraryCollectionViewItem::viewDidLoad()
{
    applySelectionStyle();
    if (m_textField) {
        QLineEdit *field = m_textField;
        connect(field, &QLineEdit::editingFinished, this, [this, field] { nameEdited(field); });
        field->setText(m_name);
    }
    if (m_imageView && !m_icon.isNull())
        m_imageView->setPixmap(m_icon.pixmap(kIconSide, kIconSide));
}

void KTLibraryCollectionViewItem::applySelectionStyle()
{
    if (!m_selectionView)
        return;
    // A light grey border with rounded corners; width 0 hides it.
    m_selectionView->setStyleSheet(
        QStringLiteral("QFrame#selectionView { border: %1px solid rgba(153, 153, 153, 255); "
                       "border-radius: 5px; }")
            .arg(m_selectionWidth));
}

void KTLibraryCollectionViewItem::nameEdited(QLineEdit *field)
{
    if (!field)
        return;
    const QString text = field->text();
    const QVariant object = representedObject();
    if (text == nameOf(object))
        return;
    if (auto *qobject = object.value<QObject *>()) {
        qobject->setProperty(kNameKey, text);
    } else if (object.typeId() == QMetaType::QVariantMap) {
        QVariantMap map = object.toMap();
        map.insert(QString::fromLatin1(kNameKey), text);
        setRepresentedObject(map);
    } else {
        return;
    }
    m_name = text;
}

void KTLibraryCollectionViewItem::setName(const QString &name)
{
    m_name = name;
    view();
    if (m_textField)
        m_textField->setText(name);
}

void KTLibraryCollectionViewItem::setIcon(const QIcon &icon)
{
    m_icon = icon;
    view();
    if (m_imageView)
        m_imageView->setPixmap(icon.isNull() ? QPixmap() : icon.pixmap(kIconSide, kIconSide));
}

void KTLibraryCollectionViewItem::setSelected(bool selected)
{
    m_selected = selected;
    setSelectionWidth(selected ? 3.0 : 0.0);
}

void KTLibraryCollectionViewItem::setHighlightState(HighlightState state)
{
    m_highlightState = state;
    if (state == HighlightState::ForSelection)
        setSelectionWidth(3.0);
    else if (state == HighlightState::ForDeselection)
        setSelectionWidth(0.0);
}

void KTLibraryCollectionViewItem::setSelectionWidth(double width)
{
    m_selectionWidth = width;
    view();
    applySelectionStyle();
}
