// A DiskSystem behind the C functions of a ZelvikDiskSet.
#include "emulator/DiskSet.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace zelvik::emu {
namespace {

int Identity(void* context, int index, char* out, int size) {
    const std::vector<std::string> identities = static_cast<DiskSystem*>(context)->DiskIdentities();
    if (index < 0 || static_cast<size_t>(index) >= identities.size()) return -1;
    const std::string& identity = identities[static_cast<size_t>(index)];
    if (out != nullptr && size > 0) {
        const size_t copied = std::min(identity.size(), static_cast<size_t>(size) - 1);
        std::memcpy(out, identity.data(), copied);
        out[copied] = '\0';
    }
    return static_cast<int>(identity.size());
}

void* Open(void* context, int number) { return static_cast<DiskSystem*>(context)->OpenDrive(number).release(); }

int Read(void* drive, uint64_t offset, void* buffer, size_t length) {
    return static_cast<DiskDrive*>(drive)->ReadAt(offset, buffer, length) ? 1 : 0;
}

int Write(void* drive, uint64_t offset, const void* buffer, size_t length) {
    return static_cast<DiskDrive*>(drive)->WriteAt(offset, buffer, length) ? 1 : 0;
}

void Close(void* drive) { delete static_cast<DiskDrive*>(drive); }

}  // namespace

ZelvikDiskSet DiskSetOf(DiskSystem& disks) {
    return ZelvikDiskSet{sizeof(ZelvikDiskSet), &disks, Identity, Open, Read, Write, Close};
}

}  // namespace zelvik::emu
