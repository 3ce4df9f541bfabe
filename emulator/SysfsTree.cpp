// The FUSE front end's file tree: sysfs-like identity entries, disk nodes and the control file.
#include "emulator/SysfsTree.h"

#include "emulator/RegisterMap.h"

namespace zelvik::emu {
namespace {

std::string Padded(const std::string& text, size_t width) {
    std::string padded = text;
    if (padded.size() < width) padded.append(width - padded.size(), ' ');
    return padded + "\n";
}

}  // namespace

SysfsTree::SysfsTree(std::vector<EmulatedDisk> disks) : disks_(std::move(disks)) {
    using Kind = TreeNode::Kind;
    auto dir = [this](const std::string& path, int disk = -1) { Add(path, {Kind::Directory, {}, disk, {}}); };
    auto file = [this](const std::string& path, std::string text, int disk) {
        Add(path, {Kind::File, std::move(text), disk, {}});
    };
    auto link = [this](const std::string& path, std::string target, int disk) {
        Add(path, {Kind::Symlink, std::move(target), disk, {}});
    };

    nodes_["/"] = TreeNode{};
    dir("/sys");
    dir("/sys/block");
    dir("/sys/devices");
    const std::string hub = "/sys/devices/pci0000:00/0000:00:14.0/usb2";
    dir("/sys/devices/pci0000:00");
    dir("/sys/devices/pci0000:00/0000:00:14.0");
    dir(hub);
    dir("/dev");
    Add("/control", {Kind::Control, {}, -1, {}});

    for (size_t i = 0; i < disks_.size(); ++i) {
        const EmulatedDisk& d = disks_[i];
        const int owner = static_cast<int>(i);
        const std::string port = "2-" + std::to_string(i + 1);
        const std::string host = std::to_string(6 + i);
        const std::string scsiName = host + ":0:0:0";
        const std::string usbDevice = hub + "/" + port;
        const std::string iface = usbDevice + "/" + port + ":1.0";
        const std::string scsi = iface + "/host" + host + "/target" + host + ":0:0/" + scsiName;
        dir(usbDevice, owner);
        file(usbDevice + "/serial", d.serial + "\n", owner);
        file(usbDevice + "/speed", std::to_string(d.port.speedMbps) + "\n", owner);
        dir(iface, owner);
        dir(iface + "/host" + host, owner);
        dir(iface + "/host" + host + "/target" + host + ":0:0", owner);
        dir(scsi, owner);
        file(scsi + "/vendor", Padded(d.vendor, 8), owner);
        file(scsi + "/model", Padded(d.model, 16), owner);
        file(scsi + "/rev", Padded(d.rev, 4), owner);
        dir(scsi + "/block", owner);
        dir(scsi + "/block/" + d.name, owner);
        link(scsi + "/block/" + d.name + "/device", "../../../" + scsiName, owner);
        file(scsi + "/block/" + d.name + "/size", std::to_string(kDiskSize / kSectorSize) + "\n", owner);
        dir(scsi + "/block/" + d.name + "/queue", owner);
        file(scsi + "/block/" + d.name + "/queue/max_sectors_kb", std::to_string(d.port.maxSectorsKb) + "\n", owner);
        file(scsi + "/block/" + d.name + "/queue/max_hw_sectors_kb", std::to_string(d.port.maxHwSectorsKb) + "\n",
             owner);
        // Relative, as the kernel's links are, so that it resolves inside the mount.
        link("/sys/block/" + d.name, ".." + scsi.substr(4) + "/block/" + d.name, owner);
        Add("/dev/" + d.name, {Kind::Disk, {}, owner, {}});
    }
}

void SysfsTree::Add(const std::string& path, TreeNode node) {
    const size_t slash = path.rfind('/');
    const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
    nodes_.at(parent).children.push_back(path.substr(slash + 1));
    nodes_[path] = std::move(node);
}

bool SysfsTree::Visible(const TreeNode& node) const {
    return node.disk < 0 || disks_[static_cast<size_t>(node.disk)].Attached();
}

const TreeNode* SysfsTree::Find(const std::string& path) const {
    const auto it = nodes_.find(path);
    if (it == nodes_.end() || !Visible(it->second)) return nullptr;
    return &it->second;
}

}  // namespace zelvik::emu
