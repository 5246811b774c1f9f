#include "core/folders/TDvShellLink.h"

#include <algorithm>

namespace dv {

TDvShellLink::TDvShellLink() : fSelectionList(std::make_unique<TDvSelectionList>(this)) {}

TDvShellLink::~TDvShellLink() = default;

void TDvShellLink::RegisterShellControl(IDvShellControl *control)
{
    if (control == nullptr)
        return;
    std::lock_guard lock(fControlsMutex);
    if (std::find(fDvShellControlList.begin(), fDvShellControlList.end(), control) ==
        fDvShellControlList.end())
        fDvShellControlList.push_back(control);
}

void TDvShellLink::UnregisterShellControl(IDvShellControl *control)
{
    std::lock_guard lock(fControlsMutex);
    std::erase(fDvShellControlList, control);
}

bool TDvShellLink::IsRegistered(IDvShellControl *control) const
{
    std::lock_guard lock(fControlsMutex);
    return std::find(fDvShellControlList.begin(), fDvShellControlList.end(), control) !=
           fDvShellControlList.end();
}

void TDvShellLink::Refresh(IDvShellControl *Sender, TRefreshLevel pRefreshLevel,
                           const ShellItem *pItemIdList)
{
    if (!Enabled())
        return;
    std::vector<IDvShellControl *> controls;
    {
        std::lock_guard lock(fControlsMutex);
        controls = fDvShellControlList;
    }
    for (IDvShellControl *control : controls) {
        // A control may unregister (and go away) while an earlier one refreshes.
        if (control != Sender && IsRegistered(control))
            control->Refresh(pRefreshLevel, pItemIdList);
    }
}

} // namespace dv
