#pragma once

#include <QLabel>

namespace dv {

// A text link: underlined while the pointer is away and plain while it is over it (the
// system's links behave this way round), with the hand pointer; a click emits Clicked. It is
// reached with Tab and pressed with Space or Enter, and offers assistive technology a press
// action (LinkLabelAccessible).
class LinkLabel : public QLabel
{
    Q_OBJECT
public:
    explicit LinkLabel(QWidget *parent = nullptr);

    // What a click does, for the keyboard and assistive technology.
    void Press();

signals:
    void Clicked();

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void SetUnderlined(bool underlined);
    bool m_pressed = false;
};

} // namespace dv
