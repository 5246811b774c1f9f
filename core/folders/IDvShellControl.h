#pragma once

#include "core/folders/ShellItem.h"

namespace dv {

// How much a shell control re-reads when the link asks it to refresh.
enum class TRefreshLevel
{
    rfFull = 0,       // re-read everything
    rfSmart = 1,      // re-read the selected item
    rfCheckboxes = 2, // recompute check boxes only
};

// A control joined by a TDvShellLink (the folder tree); the link forwards the selection list's
// change notifications to it.
class IDvShellControl
{
public:
    virtual ~IDvShellControl() = default;

    // Called by the link on the thread that changed the list. pItemIdList is null for "all
    // items", else the item whose check box (and those of its loaded relatives) may have changed.
    // A notification from the selection list arrives while the list holds its write lock: the
    // control may read the list (the lock is recursive) but must not wait for threads that do.
    virtual void Refresh(TRefreshLevel pRefreshLevel, const ShellItem *pItemIdList) = 0;
};

} // namespace dv
