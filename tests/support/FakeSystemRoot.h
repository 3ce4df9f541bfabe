// Disks of a fake system root as regular files: sysfs identity files and links, and dev/<disk> images.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "device/DiskProtocol.h"

namespace zelvik::test {

class FakeSystemRoot {
public:
    // Disks end after the image transfer of one full-resolution frame (its bytes in whole sectors).
    static constexpr uint64_t kDiskSize = protocol::kImageOffset + 5039104;

    explicit FakeSystemRoot(std::filesystem::path root) : root_(std::move(root)) {
        std::filesystem::create_directories(root_ / "sys/block");
        std::filesystem::create_directories(root_ / "dev");
    }

    // A whole disk as the kernel lays it out, attached through USB (below a "usbN" hub) or not, with the
    // given sysfs vendor, model and serial. Its image is `fill` repeated, with the camera's identification
    // sector at 0x20000 when `cameraSector` is set (then its register-0 answer is 0x1801, the word
    // protocol, since a file keeps the status bytes it holds).
    void AddDisk(const std::string& name, bool usb, const std::string& vendor, const std::string& model,
                 const std::string& serial, bool cameraSector, const std::string& fill) {
        const std::filesystem::path hub =
            usb ? "sys/devices/pci0000:00/0000:00:14.0/usb2/2-" + name : "sys/devices/pci0000:00/ata-" + name;
        const std::filesystem::path scsi = hub / "host/target/0:0:0:0";
        Write(hub / "serial", serial + "\n");
        Write(scsi / "vendor", vendor + "\n");
        Write(scsi / "model", model + "\n");
        Write(scsi / "rev", "1.00\n");
        std::filesystem::create_directories(root_ / "sys/block" / name);
        std::filesystem::create_directory_symlink(std::filesystem::path("../..") / scsi.lexically_relative("sys"),
                                                  root_ / "sys/block" / name / "device");
        std::string image;
        image.reserve(kDiskSize);
        while (image.size() < kDiskSize) image += fill;
        image.resize(kDiskSize);
        if (cameraSector) {
            image.replace(protocol::kStatusOffset, 26, "MOVANE USB 3.0 Camera V1.0");
            image[protocol::kStatusOffset + protocol::kModelIdAByte] = 0x50;
            image[protocol::kStatusOffset + protocol::kModelIdBByte] = 0x02;
            image[protocol::kStatusOffset + protocol::kWordResultByte] = 0x01;
            image[protocol::kStatusOffset + protocol::kWordResultByte + 1] = 0x18;
        }
        std::ofstream(root_ / "dev" / name, std::ios::binary) << image;
    }

    std::string DiskBytes(const std::string& name) const {
        std::ifstream in(root_ / "dev" / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    void Write(const std::filesystem::path& relative, const std::string& text) {
        std::filesystem::create_directories((root_ / relative).parent_path());
        std::ofstream(root_ / relative) << text;
    }

    std::filesystem::path root_;
};

}  // namespace zelvik::test
