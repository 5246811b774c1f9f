#include "core/platform/FolderIdentitySet.h"

namespace dv {

namespace {

constexpr std::size_t kInitialSlots = 1024;

std::uint64_t Mix(std::uint64_t pDevice, std::uint64_t pInode)
{
    // splitmix64's finaliser: inodes are often consecutive, the slots must not be.
    std::uint64_t x = pInode ^ (pDevice * 0x9E3779B97F4A7C15ULL);
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

} // namespace

std::size_t FolderIdentitySet::Find(std::uint64_t pDevice, std::uint64_t pInode) const
{
    const std::size_t mask = fSlots.size() - 1;
    std::size_t i = static_cast<std::size_t>(Mix(pDevice, pInode)) & mask;
    while (fSlots[i].Device != 0 && (fSlots[i].Device != pDevice || fSlots[i].Inode != pInode))
        i = (i + 1) & mask;
    return i;
}

bool FolderIdentitySet::Insert(dev_t pDevice, ino_t pInode)
{
    if (2 * (fCount + 1) > fSlots.size())
        Grow();
    const std::uint64_t device = static_cast<std::uint64_t>(pDevice) + 1;
    Slot &slot = fSlots[Find(device, pInode)];
    if (slot.Device != 0)
        return false;
    slot = Slot{device, static_cast<std::uint64_t>(pInode)};
    ++fCount;
    return true;
}

bool FolderIdentitySet::Contains(dev_t pDevice, ino_t pInode) const
{
    if (fSlots.empty())
        return false;
    return fSlots[Find(static_cast<std::uint64_t>(pDevice) + 1, pInode)].Device != 0;
}

void FolderIdentitySet::Clear()
{
    fSlots.clear();
    fSlots.shrink_to_fit();
    fCount = 0;
}

void FolderIdentitySet::Grow()
{
    std::vector<Slot> old;
    old.swap(fSlots);
    fSlots.assign(old.empty() ? kInitialSlots : 2 * old.size(), Slot{0, 0});
    for (const Slot &slot : old)
        if (slot.Device != 0)
            fSlots[Find(slot.Device, slot.Inode)] = slot;
}

} // namespace dv
