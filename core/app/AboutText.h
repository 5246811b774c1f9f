#pragma once

#include <QString>

namespace dv {

// The about box's message in the current language: title, version, web site, legal notice and
// the maker's rights line for Year, lines joined by CR LF.
QString AboutBoxText(int year);

} // namespace dv
