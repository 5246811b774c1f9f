#include "gui/app/UpDown.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace dv {

UpDown::UpDown(QLineEdit *associate, int minimum, int maximum, QWidget *parent)
    : QWidget(parent), fAssociate(associate), fUp(new QToolButton(this)),
      fDown(new QToolButton(this)), fMinimum(minimum), fMaximum(maximum), fPosition(minimum)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (QToolButton *b : {fUp, fDown}) {
        b->setArrowType(b == fUp ? Qt::UpArrow : Qt::DownArrow);
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        b->setFixedWidth(17);
        layout->addWidget(b);
    }
    connect(fUp, &QToolButton::clicked, this, [this] { Step(1); });
    connect(fDown, &QToolButton::clicked, this, [this] { Step(-1); });
    if (fAssociate)
        fAssociate->installEventFilter(this);
}

void UpDown::SetPosition(int position)
{
    fPosition = std::clamp(position, fMinimum, fMaximum);
}

void UpDown::Step(int delta)
{
    if (fAssociate) {
        bool ok = false;
        const qlonglong typed = fAssociate->text().trimmed().toLongLong(&ok);
        if (ok)
            fPosition = static_cast<int>(std::clamp<qlonglong>(typed, fMinimum, fMaximum));
    }
    SetPosition(
        static_cast<int>(std::clamp<qlonglong>(qlonglong(fPosition) + delta, fMinimum, fMaximum)));
    if (fAssociate)
        fAssociate->setText(QString::number(fPosition));
}

bool UpDown::eventFilter(QObject *watched, QEvent *event)
{
    // The arrow keys in the edit step like the buttons.
    if (watched == fAssociate && event->type() == QEvent::KeyPress && isEnabled()) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            Step(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace dv
