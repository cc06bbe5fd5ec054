#pragma once

#include "platform/ui/ViewController.h"

#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>

// One item of the library, templates and variations browsers: an icon, an
// editable name and a frame that marks the selection. Its represented object
// is a QObject with a "name" property (or a map with a "name" key).
class KTLibraryCollectionViewItem : public platform::ViewController
{
    Q_OBJECT
public:
    static constexpr const char *kNibName = "LibraryCellTemplate";
    enum class HighlightState { None, ForSelection, ForDeselection, AsDropTarget };

    explicit KTLibraryCollectionViewItem(QObject *parent = nullptr);

    QString name() const { return m_name; }
    void setName(const QString &name);
    QIcon icon() const { return m_icon; }
    void setIcon(const QIcon &icon);

    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);
    HighlightState highlightState() const { return m_highlightState; }
    void setHighlightState(HighlightState state);
    void setSelectionWidth(double width);
    double selectionWidth() const { return m_selectionWidth; }

    QLabel *imageView() const { return m_imageView; }
    QLineEdit *textField() const { return m_textField; }
    QFrame *selectionView() const { return m_selectionView; }

    // The name field's editing ended.
    void nameEdited(QLineEdit *field);

protected:
    QWidget *loadView() override;
    void viewDidLoad() override;

private:
    void applySelectionStyle();

    QString m_name;
    QIcon m_icon;
    bool m_selected = false;
    HighlightState m_highlightState = HighlightState::None;
    double m_selectionWidth = 0;
    QPointer<QLabel> m_imageView;
    QPointer<QLineEdit> m_textField;
    QPointer<QFrame> m_selectionView;
};
