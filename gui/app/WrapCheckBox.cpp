#include "gui/app/WrapCheckBox.h"

#include <QFontMetrics>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace dv {

namespace {
constexpr int kTextFlags = Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop;
}

WrapCheckBox::WrapCheckBox(const QString &text, QWidget *parent) : QCheckBox(text, parent)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

int WrapCheckBox::IndicatorWidth() const
{
    return style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this) +
           style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, this);
}

QRect WrapCheckBox::TextRect(int width) const
{
    const int left = IndicatorWidth();
    const QRect bounds = fontMetrics().boundingRect(QRect(0, 0, std::max(1, width - left), 10000),
                                                    kTextFlags, text());
    return QRect(left, 0, std::max(1, width - left), bounds.height());
}

QSize WrapCheckBox::sizeHint() const
{
    const QSize oneLine = QCheckBox::sizeHint();
    return {std::min(oneLine.width(), 300), heightForWidth(std::min(oneLine.width(), 300))};
}

QSize WrapCheckBox::minimumSizeHint() const
{
    const int indicatorHeight = style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, this);
    return {IndicatorWidth() + fontMetrics().averageCharWidth() * 8,
            std::max(indicatorHeight, fontMetrics().height())};
}

int WrapCheckBox::heightForWidth(int width) const
{
    const int indicatorHeight = style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, this);
    return std::max(indicatorHeight, TextRect(width).height()) + 2;
}

void WrapCheckBox::paintEvent(QPaintEvent *)
{
    QStylePainter p(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    option.text.clear();
    const int indicatorHeight = style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, this);
    const int lineHeight = fontMetrics().height();
    // The box sits level with the first line of the caption.
    const int indicatorWidth = style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this);
    option.rect = QRect(0, std::max(0, (lineHeight - indicatorHeight) / 2) + 1, indicatorWidth,
                        indicatorHeight);
    p.drawPrimitive(QStyle::PE_IndicatorCheckBox, option);
    const QRect textRect = TextRect(width()).translated(0, 1);
    p.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.drawText(textRect, kTextFlags, caption);
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = textRect.adjusted(-1, 0, 1, 0);
        p.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

bool WrapCheckBox::hitButton(const QPoint &pos) const
{
    return rect().contains(pos);
}

} // namespace dv
