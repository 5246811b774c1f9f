#include "gui/app/UpDown.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace dv {

UpDown::UpDown(QLineEdit *associate, int minimum, int maximum, QWidget *parent)
    : QWidget(parent), m_associate(associate), m_up(new QToolButton(this)),
      m_down(new QToolButton(this)), m_minimum(minimum), m_maximum(maximum), m_position(minimum)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (QToolButton *b : {m_up, m_down}) {
        b->setArrowType(b == m_up ? Qt::UpArrow : Qt::DownArrow);
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        b->setFixedWidth(17);
        layout->addWidget(b);
    }
    connect(m_up, &QToolButton::clicked, this, [this] { Step(1); });
    connect(m_down, &QToolButton::clicked, this, [this] { Step(-1); });
    if (m_associate)
        m_associate->installEventFilter(this);
}

void UpDown::SetPosition(int position)
{
    m_position = std::clamp(position, m_minimum, m_maximum);
}

void UpDown::Step(int delta)
{
    if (m_associate) {
        bool ok = false;
        const qlonglong typed = m_associate->text().trimmed().toLongLong(&ok);
        if (ok)
            m_position = static_cast<int>(std::clamp<qlonglong>(typed, m_minimum, m_maximum));
    }
    SetPosition(static_cast<int>(
        std::clamp<qlonglong>(qlonglong(m_position) + delta, m_minimum, m_maximum)));
    if (m_associate)
        m_associate->setText(QString::number(m_position));
}

bool UpDown::eventFilter(QObject *watched, QEvent *event)
{
    // The arrow keys in the edit step like the buttons.
    if (watched == m_associate && event->type() == QEvent::KeyPress && isEnabled()) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            Step(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace dv
