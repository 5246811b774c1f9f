#pragma once

namespace dv {

// Names the application for the toolkit. No display name is set: the toolkit would append
// it to every window title ("Delvora 2.4 — Delvora"), and the main window's title already
// names the program.
void SetUpApplicationIdentity();

} // namespace dv
