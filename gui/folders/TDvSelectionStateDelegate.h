#pragma once

#include <QStyledItemDelegate>

namespace dv {

// Draws the tree's check boxes from the node's selection state: unchecked, checked, and in a
// disabled look unchecked (not checkable) or checked (partly checked). The box is the style's
// own item-view check box; the rest of the row is drawn as usual.
class TDvSelectionStateDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    // Leaves check boxes to the tree: it toggles through the selection list.
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override;

    // Where the check box of the row lies (empty when the node has none); option.rect is the
    // row's visual rectangle.
    QRect CheckRect(const QStyleOptionViewItem &option, const QModelIndex &index) const;
};

} // namespace dv
