// Comparing and printing capture windows in test expectations.
#pragma once

#include <ostream>

#include "settings/CameraSettings.h"

namespace zelvik {

inline bool operator==(const CaptureWindow& a, const CaptureWindow& b) {
    return a.TH == b.TH && a.TV == b.TV && a.EH == b.EH && a.EV == b.EV && a.EHS == b.EHS && a.EVS == b.EVS &&
           a.Buf == b.Buf;
}
inline std::ostream& operator<<(std::ostream& out, const CaptureWindow& w) {
    return out << "{" << w.TH << "," << w.TV << "," << w.EH << "," << w.EV << "," << w.EHS << "," << w.EVS << ","
               << w.Buf << "}";
}

}  // namespace zelvik
