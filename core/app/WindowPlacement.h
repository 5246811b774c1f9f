#pragma once

#include <QList>
#include <QRect>

namespace dv {

// Where a window's frame (title bar and border included) goes on the screens: it keeps its
// place and size where it can be grabbed and fits; otherwise it is fitted into the available
// geometry of one screen and moved onto it.
class WindowPlacement
{
public:
    // Horizontal part of the title bar that must lie on a screen for the window to be grabbed.
    static constexpr int kGrabWidth = 100;

    // Frame: the window's outer rectangle; Screens: the screens' available geometries (the
    // primary first); TitleHeight: the height of the title bar at the frame's top.
    // The screen is the one it overlaps most among those its title bar can be grabbed on,
    // else the one it overlaps most, else the nearest. A frame larger than that screen shrinks to
    // it; a frame that shrank or could not be grabbed is moved into the screen. No screens:
    // unchanged.
    static QRect Fit(const QRect &frame, const QList<QRect> &screens, int titleHeight);

    // Whether the title bar of Frame lies on Screen far enough to be grabbed.
    static bool CanGrab(const QRect &frame, const QRect &screen, int titleHeight);
};

} // namespace dv
