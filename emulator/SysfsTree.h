// The file tree the FUSE front end shows: a system root with sys/block, sys/devices and dev entries
// for every emulated USB disk, plus the control file. Entries of an unplugged camera are hidden.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "emulator/EmulatedDisks.h"

namespace zelvik::emu {

struct TreeNode {
    enum class Kind { Directory, File, Symlink, Disk, Control };
    Kind kind = Kind::Directory;
    std::string content;                // file text or link target
    int disk = -1;                      // index into the tree's disks; -1 for shared entries
    std::vector<std::string> children;  // directory entries, in the order added
};

// Disk i (in name order) sits on USB port 2-(i+1) behind SCSI host 6+i, as the kernel lays it out:
//   sys/block/sdb -> ../devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb
//   sys/devices/.../usb2/2-1/{serial,speed}, .../6:0:0:0/{vendor,model,rev},
//   .../block/sdb/{device,size,queue/max_sectors_kb,queue/max_hw_sectors_kb}
//   dev/sdb, and control at the root.
class SysfsTree {
public:
    explicit SysfsTree(std::vector<EmulatedDisk> disks);

    // The node at an absolute path ("/" is the root), or null when there is none or it is hidden.
    const TreeNode* Find(const std::string& path) const;
    // Whether a directory entry is shown now.
    bool Visible(const TreeNode& node) const;
    const EmulatedDisk& Disk(int index) const { return disks_.at(static_cast<size_t>(index)); }

private:
    void Add(const std::string& path, TreeNode node);

    std::vector<EmulatedDisk> disks_;
    std::map<std::string, TreeNode> nodes_;
};

}  // namespace zelvik::emu
