#include "gui/app/LinkLabel.h"

#include "gui/app/LinkLabelAccessible.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

#include <algorithm>

namespace dv {

LinkLabel::LinkLabel(QWidget *parent) : QLabel(parent)
{
    LinkLabelAccessible::Install();
    setCursor(Qt::PointingHandCursor);
    // Tab reaches it; a click does not take the focus from where the user works.
    setFocusPolicy(Qt::TabFocus);
    SetUnderlined(true);
}

void LinkLabel::Press()
{
    emit Clicked();
}

void LinkLabel::SetUnderlined(bool underlined)
{
    QFont f = font();
    f.setUnderline(underlined);
    setFont(f);
}

void LinkLabel::enterEvent(QEnterEvent *event)
{
    SetUnderlined(false);
    QLabel::enterEvent(event);
}

void LinkLabel::leaveEvent(QEvent *event)
{
    SetUnderlined(true);
    QLabel::leaveEvent(event);
}

void LinkLabel::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent *event)
{
    // A press that is dragged off the link before release is no click.
    const bool click = m_pressed && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    m_pressed = false;
    QLabel::mouseReleaseEvent(event);
    if (click)
        Press();
}

void LinkLabel::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter ||
                  key == Qt::Key_Select)) {
        event->accept();
        Press();
        return;
    }
    QLabel::keyPressEvent(event);
}

void LinkLabel::paintEvent(QPaintEvent *event)
{
    QLabel::paintEvent(event);
    if (!hasFocus())
        return;
    // A label draws no focus of its own: show where the keyboard is.
    QStylePainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    const int textWidth = fontMetrics().horizontalAdvance(text()) + 4;
    QRect box = contentsRect();
    if (alignment() & Qt::AlignRight)
        box.setLeft(std::max(box.left(), box.right() - textWidth));
    else
        box.setWidth(std::min(box.width(), textWidth));
    option.rect = box;
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
}

} // namespace dv
