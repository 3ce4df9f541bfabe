// The preview's drawing step, called by the streaming loop after each processed frame.
#include "capture/Preview.h"

namespace zelvik {

void DrawFrame(CameraInstance&) {}

}  // namespace zelvik
