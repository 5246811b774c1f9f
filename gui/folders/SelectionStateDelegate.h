#pragma once

#include <QStyledItemDelegate>

namespace dv {

// Draws the tree's check boxes from the node's selection state: unchecked, checked, partly
// checked (the style's own mark for it, which tells it apart at a glance from checked), and
// unchecked in a disabled look for a node that cannot be checked. The box is the style's
// item-view check box; the rest of the row is drawn as usual.
class SelectionStateDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    // Leaves check boxes to the tree: it toggles through the selection list.
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override;

    // Keeps a name the user is typing: the view hands every change of the row to its open
    // editor, and a check state judged in the background would put the old name back.
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;

    // Where the check box of the row lies (empty when the node has none); option.rect is the
    // row's visual rectangle.
    QRect CheckRect(const QStyleOptionViewItem &option, const QModelIndex &index) const;
};

} // namespace dv
