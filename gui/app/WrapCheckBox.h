#pragma once

#include <QCheckBox>

namespace dv {

// A check box whose caption wraps onto further lines when the box is narrower than the text.
class WrapCheckBox : public QCheckBox
{
    Q_OBJECT
public:
    explicit WrapCheckBox(const QString &text, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool hitButton(const QPoint &pos) const override;

private:
    int IndicatorWidth() const;
    QRect TextRect(int width) const;
};

} // namespace dv
