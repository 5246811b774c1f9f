#include "gui/folders/SelectionStateDelegate.h"

#include "core/folders/FolderTreeModel.h"
#include "core/folders/TDvSelectionState.h"

#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <QStyle>

namespace dv {

namespace {

bool HasDisabledLook(const QModelIndex &index)
{
    const int state = index.data(FolderTreeModel::SelectionStateRole).toInt();
    return state == int(TDvSelectionState::ssDisabled) || state == int(TDvSelectionState::ssGrayed);
}

} // namespace

void SelectionStateDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                   const QModelIndex &index) const
{
    if (!HasDisabledLook(index)) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget *widget = option.widget;
    QStyle *style = widget != nullptr ? widget->style() : QApplication::style();
    const QRect box = style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, widget);
    // The row as usual except the box, then the row once more clipped to the box with the
    // disabled look: both passes lay the row out alike, so the box sits where clicks find it.
    painter->save();
    painter->setClipRegion(QRegion(opt.rect).subtracted(QRegion(box)));
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    painter->restore();
    QStyleOptionViewItem disabled = opt;
    disabled.state &= ~QStyle::State_Enabled;
    // A selected row keeps its highlight behind the box.
    disabled.palette.setBrush(QPalette::Disabled, QPalette::Highlight,
                              opt.palette.brush(QPalette::Active, QPalette::Highlight));
    painter->save();
    painter->setClipRect(box);
    style->drawControl(QStyle::CE_ItemViewItem, &disabled, painter, widget);
    painter->restore();
}

bool SelectionStateDelegate::editorEvent(QEvent *event, QAbstractItemModel *model,
                                         const QStyleOptionViewItem &option,
                                         const QModelIndex &index)
{
    Q_UNUSED(event);
    Q_UNUSED(model);
    Q_UNUSED(option);
    Q_UNUSED(index);
    return false;
}

void SelectionStateDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    // The same name again would only lose the selection the editor opened with.
    if (const auto *line = qobject_cast<QLineEdit *>(editor);
        line != nullptr &&
        (line->isModified() || line->text() == index.data(Qt::EditRole).toString()))
        return;
    QStyledItemDelegate::setEditorData(editor, index);
}

QRect SelectionStateDelegate::CheckRect(const QStyleOptionViewItem &option,
                                        const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    if (!(opt.features & QStyleOptionViewItem::HasCheckIndicator))
        return {};
    const QWidget *widget = option.widget;
    QStyle *style = widget != nullptr ? widget->style() : QApplication::style();
    return style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, widget);
}

} // namespace dv
