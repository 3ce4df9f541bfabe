// The one result type of the device operations.
#pragma once

namespace zelvik {

enum class DeviceResult {
    Done,
    Failed,    // refused (bad argument, no ring, a feature this model lacks) or the transfer failed
    NoAnswer,  // the camera did not answer in time (busy drive, no loop acknowledgement, frame timeout)
};
inline bool Succeeded(DeviceResult result) { return result == DeviceResult::Done; }

}  // namespace zelvik
