// The identity string of a USB-attached whole disk, made from its sysfs attributes as the disk enumeration
// gives it. No code behind it: the system's disks, the emulator and the zelvik tool's doctor make the same
// strings.
#pragma once

#include <algorithm>
#include <string>

namespace zelvik {

// "USBSTOR\Disk&Ven_<vendor>&Prod_<model>&Rev_<rev>\<serial>", spaces in vendor and model as '_'.
inline std::string UsbDiskIdentity(std::string vendor, std::string model, const std::string& rev,
                                   const std::string& serial) {
    std::replace(vendor.begin(), vendor.end(), ' ', '_');
    std::replace(model.begin(), model.end(), ' ', '_');
    return "USBSTOR\\Disk&Ven_" + vendor + "&Prod_" + model + "&Rev_" + rev + "\\" + serial;
}

}  // namespace zelvik
