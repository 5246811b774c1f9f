#include "gui/app/TLinkLabel.h"

#include <QMouseEvent>

namespace dv {

TLinkLabel::TLinkLabel(QWidget *parent) : QLabel(parent)
{
    setCursor(Qt::PointingHandCursor);
    SetUnderlined(true);
}

void TLinkLabel::SetUnderlined(bool underlined)
{
    QFont f = font();
    f.setUnderline(underlined);
    setFont(f);
}

void TLinkLabel::enterEvent(QEnterEvent *event)
{
    SetUnderlined(false);
    QLabel::enterEvent(event);
}

void TLinkLabel::leaveEvent(QEvent *event)
{
    SetUnderlined(true);
    QLabel::leaveEvent(event);
}

void TLinkLabel::mousePressEvent(QMouseEvent *event)
{
    fPressed = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent *event)
{
    // A press that is dragged off the link before release is no click.
    const bool click = fPressed && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    fPressed = false;
    QLabel::mouseReleaseEvent(event);
    if (click)
        emit Clicked();
}

} // namespace dv
