#pragma once

namespace dv {

// Names the application for the toolkit. No display name is set: the toolkit would append
// it to every window title ("Delvora 2.4 — Delvora"), and the main window's title already
// names the program. The windows' icon is "delvora" from the desktop's icon theme, and the
// desktop entry is delvora.desktop.
void SetUpApplicationIdentity();

} // namespace dv
