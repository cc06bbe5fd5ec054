#pragma once

#include <QTreeView>

// The outline's view; it tells whether a row's name is being edited, so a
// key or a reload does not cut the edit short.
class KTEOutlineView : public QTreeView
{
public:
    using QTreeView::QTreeView;
    bool isEditing() const { return state() == QAbstractItemView::EditingState; }
};
