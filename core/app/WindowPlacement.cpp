#include "core/app/WindowPlacement.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace dv {

namespace {

std::int64_t OverlapArea(const QRect &a, const QRect &b)
{
    const QRect common = a.intersected(b);
    return common.isEmpty() ? 0 : std::int64_t(common.width()) * common.height();
}

std::int64_t SquaredDistance(const QPoint &a, const QPoint &b)
{
    const std::int64_t dx = a.x() - b.x();
    const std::int64_t dy = a.y() - b.y();
    return dx * dx + dy * dy;
}

} // namespace

bool WindowPlacement::CanGrab(const QRect &frame, const QRect &screen, int titleHeight)
{
    // The whole title bar's height on the screen, and enough of its width.
    const int title = std::max(1, std::min(titleHeight, frame.height()));
    if (frame.top() < screen.top() || frame.top() + title - 1 > screen.bottom())
        return false;
    const int left = std::max(frame.left(), screen.left());
    const int right = std::min(frame.right(), screen.right());
    return right - left + 1 >= std::min(kGrabWidth, frame.width());
}

QRect WindowPlacement::Fit(const QRect &frame, const QList<QRect> &screens, int titleHeight)
{
    if (screens.isEmpty())
        return frame;
    // The screen the window lies on most, among those it can be grabbed on if any.
    qsizetype chosen = -1;
    bool grabbable = false;
    std::int64_t most = 0;
    for (qsizetype i = 0; i < screens.size(); ++i) {
        const bool grab = CanGrab(frame, screens.at(i), titleHeight);
        const std::int64_t area = OverlapArea(frame, screens.at(i));
        if ((grab && !grabbable) || (grab == grabbable && area > most)) {
            chosen = i;
            grabbable = grab;
            most = area;
        }
    }
    if (chosen < 0) {
        std::int64_t nearest = std::numeric_limits<std::int64_t>::max();
        for (qsizetype i = 0; i < screens.size(); ++i) {
            const std::int64_t d = SquaredDistance(frame.center(), screens.at(i).center());
            if (d < nearest) {
                nearest = d;
                chosen = i;
            }
        }
    }
    const QRect screen = screens.at(chosen);
    const QSize size(std::min(frame.width(), screen.width()),
                     std::min(frame.height(), screen.height()));
    if (grabbable && size == frame.size())
        return frame;
    const int x = std::clamp(frame.left(), screen.left(), screen.right() + 1 - size.width());
    const int y = std::clamp(frame.top(), screen.top(), screen.bottom() + 1 - size.height());
    return QRect(QPoint(x, y), size);
}

} // namespace dv
