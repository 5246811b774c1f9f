#pragma once

#include "core/folders/IDvShellControl.h"
#include "core/folders/TDvSelectionList.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace dv {

// Joins the shell controls of a window: owns the selection list and forwards its change
// notifications to every registered control.
class TDvShellLink
{
public:
    TDvShellLink();
    ~TDvShellLink();
    TDvShellLink(const TDvShellLink &) = delete;
    TDvShellLink &operator=(const TDvShellLink &) = delete;

    TDvSelectionList *SelectionList() const { return fSelectionList.get(); }

    // A disabled link forwards nothing.
    bool Enabled() const { return fEnabled.load(); }
    void SetEnabled(bool aValue) { fEnabled.store(aValue); }

    // Adds a control once (null is ignored); controls unregister before they are destroyed.
    void RegisterShellControl(IDvShellControl *control);
    void UnregisterShellControl(IDvShellControl *control);
    bool IsRegistered(IDvShellControl *control) const;

    // Calls Refresh on every registered control except Sender, in registration order.
    void Refresh(IDvShellControl *Sender, TRefreshLevel pRefreshLevel,
                 const ShellItem *pItemIdList);

private:
    std::unique_ptr<TDvSelectionList> fSelectionList;
    mutable std::mutex fControlsMutex;
    std::vector<IDvShellControl *> fDvShellControlList;
    std::atomic<bool> fEnabled{true};
};

} // namespace dv
