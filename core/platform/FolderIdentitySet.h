#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <vector>

namespace dv {

// The folders (device, inode) a walk has entered. Open addressing in one array: a walk of a
// large drive records every folder, so a node per folder would cost far more memory.
class FolderIdentitySet
{
public:
    // Adds the folder; false when it was already there.
    bool Insert(dev_t pDevice, ino_t pInode);
    bool Contains(dev_t pDevice, ino_t pInode) const;
    std::size_t Size() const { return m_count; }
    void Clear();

private:
    struct Slot
    {
        std::uint64_t Device; // the device number + 1, so that 0 marks a free slot
        std::uint64_t Inode;
    };
    std::size_t Find(std::uint64_t pDevice, std::uint64_t pInode) const;
    void Grow();

    std::vector<Slot> m_slots; // a power of two in size, at most half full
    std::size_t m_count = 0;
};

} // namespace dv
