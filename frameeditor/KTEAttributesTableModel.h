#pragma once

#include <QAbstractTableModel>

class QMimeData;

// The attribute table's two columns, "Property" and "Value", read from and
// written to its rows' source (the attributes controller); takes picture
// drops for it.
class KTEAttributesTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { PropertyColumn = 0, ValueColumn = 1 };
    // The attribute kind of the row (-1 for the fixed rows, 1 for the icon).
    static constexpr int KindRole = Qt::UserRole + 1;
    static constexpr const char *kPropertyColumn = "Property";
    static constexpr const char *kValueColumn = "Value";

    // What the table shows and edits, row by row. It must outlive the model.
    class Rows
    {
    public:
        virtual ~Rows() = default;
        virtual int numberOfRows() const = 0;
        virtual QString propertyForRow(int row) const = 0;
        // As KindRole tells it.
        virtual int valueKindForRow(int row) = 0;
        virtual QVariant valueForRow(int row) = 0;
        virtual bool setValueForRow(int row, const QVariant &value) = 0;
        virtual bool allowDropOnRow(int row, const QMimeData *data) = 0;
        virtual bool acceptDrop(int row, const QMimeData *data) = 0;
    };

    explicit KTEAttributesTableModel(Rows *rows, QObject *parent = nullptr);

    // The rows changed (another item, another type).
    void reload();
    // Only values changed: editors stay open.
    void valuesChanged();

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    QStringList mimeTypes() const override;
    Qt::DropActions supportedDropActions() const override { return Qt::CopyAction; }
    bool canDropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                         const QModelIndex &parent) const override;
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                      const QModelIndex &parent) override;

private:
    int dropRow(int row, const QModelIndex &parent) const;

    Rows *m_rows;
};
