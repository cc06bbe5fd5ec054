#pragma once

#include "frameeditor/KTEAttributesTableModel.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QVariant>

class FrameAttribute;
class FrameImage;
class KTFEWindowInterface;
class LibraryItem;
class QMimeData;
class QTableView;

// The frame editor's table of the item chosen in the outline: the name,
// description, web address and icon of a collection or set; of a frame also
// its author, catalogue reference and one row per attribute of its type,
// edited by kind. Pictures come by dragging them from the graphics browser.
// Every edit goes into the frames context, so the window's undo takes it back.
class KTEAttributesController : public QObject, public KTEAttributesTableModel::Rows
{
    Q_OBJECT
public:
    enum ObjectType { kCollectionObject = 0, kSetObject = 1, kFrameObject = 2 };
    static constexpr int kNameRow = 0;
    static constexpr int kDescriptionRow = 1;
    static constexpr int kURLRow = 2;
    static constexpr int kIconRow = 3;
    static constexpr int kAuthorRow = 4;
    static constexpr int kCatalogRefRow = 5;
    static constexpr int kFirstAttributeRow = 6;
    static constexpr int kIconSide = 92;

    explicit KTEAttributesController(KTFEWindowInterface *window, QObject *parent = nullptr);
    ~KTEAttributesController() override;

    // The table, built on first use.
    QTableView *attributesTableView();

    void showAttributesFor(LibraryItem *item);
    void refresh();
    void clearCache();
    LibraryItem *representedObject() const { return m_representedObject; }
    ObjectType objectType() const { return m_objectType; }

    // Rows and their values, as the table shows them.
    int numberOfRows() const override;
    QString propertyForRow(int row) const override;
    // The shown value: text, a number, a boolean, a QColor or a QImage.
    QVariant valueForRow(int row) override;
    // An edit of the value cell; false when the value doesn't fit the row.
    bool setValueForRow(int row, const QVariant &value) override;

    QList<FrameAttribute *> cachedAttributesArray();
    FrameAttribute *attributeForRow(int row);
    // -1 on rows without an attribute.
    int attributeKindForRow(int row);
    // The attribute's kind, a picture on the icon row.
    int valueKindForRow(int row) override;
    QVariant attributeValueForRow(int row);
    // Stores the value by the attribute's kind (a FrameImage* or null for
    // pictures, a QColor for colours) and brings icon and preview up to date.
    void setAttributeValueForRow(int row, const QVariant &value);

    QImage iconImage();
    QImage buildIconForFrame();
    QImage imageForAttribute(FrameAttribute *attribute);
    void setIconForRepresentedObject(FrameImage *image);
    // A web address as it is stored: with "http://" in front when it names
    // no scheme; nothing for an empty field.
    static QString expandURLIfNeeded(const QString &text);

    // Applies the frame type chosen in the window's pop-up.
    void changeFrameType();
    // Clears the picture of the row (a picture attribute, or the icon of a
    // collection or set); answers whether there was one to clear.
    bool removeImageAttribute(int row);
    void showImageInBrowser(int row);
    // Whether the row holds a picture that may be removed or shown.
    bool rowHoldsPicture(int row);

    // Picture drops: only the graphics browser's drags, only on picture rows.
    bool allowDropOnRow(int row, const QMimeData *data) override;
    bool acceptDrop(int row, const QMimeData *data) override;

    // The colour wells of the table stop taking the shared dialog's colour.
    void deactivateColorPanel();

private:
    void touch();
    void valuesChanged();
    void showContextMenu(const QPoint &position);
    int currentRow() const;

    KTFEWindowInterface *m_window;
    LibraryItem *m_representedObject = nullptr;
    ObjectType m_objectType = kCollectionObject;
    QList<FrameAttribute *> m_sortedAttributes;
    bool m_attributesSorted = false;
    QHash<QString, QImage> m_cachedImages;
    QPointer<QTableView> m_table;
    KTEAttributesTableModel *m_model = nullptr;
};
