#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace dv {

// Spin buttons beside an edit box. The edit keeps whatever text is typed (the search and
// the settings file deal with text that is no number); a step starts from the number in
// the box when there is one, else from the last position, and writes the result back.
class UpDown : public QWidget
{
    Q_OBJECT
public:
    UpDown(QLineEdit *associate, int minimum, int maximum, QWidget *parent = nullptr);

    int Position() const { return m_position; }
    // Sets the position (clamped to the range) without touching the edit's text.
    void SetPosition(int position);
    int Minimum() const { return m_minimum; }
    int Maximum() const { return m_maximum; }
    // One step up (+1) or down (-1).
    void Step(int delta);
    // The two arrows, for their accessible names.
    QToolButton *UpButton() const { return m_up; }
    QToolButton *DownButton() const { return m_down; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLineEdit *m_associate;
    QToolButton *m_up;
    QToolButton *m_down;
    int m_minimum;
    int m_maximum;
    int m_position;
};

} // namespace dv
