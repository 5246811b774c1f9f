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
    const std::size_t mask = m_slots.size() - 1;
    std::size_t i = static_cast<std::size_t>(Mix(pDevice, pInode)) & mask;
    while (m_slots[i].Device != 0 && (m_slots[i].Device != pDevice || m_slots[i].Inode != pInode))
        i = (i + 1) & mask;
    return i;
}

bool FolderIdentitySet::Insert(dev_t pDevice, ino_t pInode)
{
    if (2 * (m_count + 1) > m_slots.size())
        Grow();
    const std::uint64_t device = static_cast<std::uint64_t>(pDevice) + 1;
    Slot &slot = m_slots[Find(device, pInode)];
    if (slot.Device != 0)
        return false;
    slot = Slot{device, static_cast<std::uint64_t>(pInode)};
    ++m_count;
    return true;
}

bool FolderIdentitySet::Contains(dev_t pDevice, ino_t pInode) const
{
    if (m_slots.empty())
        return false;
    return m_slots[Find(static_cast<std::uint64_t>(pDevice) + 1, pInode)].Device != 0;
}

void FolderIdentitySet::Clear()
{
    m_slots.clear();
    m_slots.shrink_to_fit();
    m_count = 0;
}

void FolderIdentitySet::Grow()
{
    std::vector<Slot> old;
    old.swap(m_slots);
    m_slots.assign(old.empty() ? kInitialSlots : 2 * old.size(), Slot{0, 0});
    for (const Slot &slot : old)
        if (slot.Device != 0)
            m_slots[Find(slot.Device, slot.Inode)] = slot;
}

} // namespace dv
