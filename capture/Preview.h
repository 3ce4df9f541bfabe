// The preview's part in the streaming loop.
#pragma once

namespace zelvik {

class CameraInstance;

// Draws the finished frame into the preview window. No window is created by this build, so there is
// nothing to draw into yet.
void DrawFrame(CameraInstance& camera);

}  // namespace zelvik
