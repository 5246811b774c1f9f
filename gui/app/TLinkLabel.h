#pragma once

#include <QLabel>

namespace dv {

// A text link: underlined while the pointer is away and plain while it is over it (the
// system's links behave this way round), with the hand pointer; a click emits Clicked.
class TLinkLabel : public QLabel
{
    Q_OBJECT
public:
    explicit TLinkLabel(QWidget *parent = nullptr);

signals:
    void Clicked();

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void SetUnderlined(bool underlined);
    bool fPressed = false;
};

} // namespace dv
