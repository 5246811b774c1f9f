#pragma once

#include <cstdint>

namespace dv {

// Check state of one path or shell item; the values are the tree's state-image indexes.
enum class TDvSelectionState : std::uint8_t
{
    ssUnused = 0,    // no state
    ssDisabled = 1,  // not a checkable file-system item
    ssChecked = 2,   // an entry, or below a folder entry
    ssUnChecked = 3, // neither the item nor anything below it is selected
    ssGrayed = 4,    // not selected itself, but some entry lies below it
};

} // namespace dv
