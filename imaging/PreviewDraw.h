// The preview's pixel work: a finished frame into a window's screen memory, one-to-one or scaled.
#pragma once

#include "imaging/FrameBuffer.h"
#include "platform/ScreenImage.h"

namespace zelvik {

// How DrawPreview filled the screen memory.
enum class PreviewPath { kNone, kOneToOne, kScaled };

// Fills target with source upright: source memory row 0 (the sensor's first line) at the top, each pixel
// converted once on its way (10-bit samples narrowed as (v >> 2) & 0xFF).
// - One-to-one when target has source's size and forceScaled is false (and source is not 16-bit gray):
//   every pixel converted straight into the screen memory.
// - Otherwise nearest-neighbour: display is rebuilt at the target's size when its size or depth differs
//   (8 bits with the gray table for 8- and 16-bit gray sources, 24 bits for colour), the scaling fills
//   it from source (bottom row first, as a bitmap display takes it), and it is copied into target turned
//   back.
// Sources are 8 bits (shown through their colour table), 16-bit gray, or 24/32/48/64 bits (blue, green,
// red); the fourth byte of a screen pixel is not part of the picture and may keep what it held. kNone,
// target untouched, for other depths, an empty source or target, or a display buffer that cannot be built.
PreviewPath DrawPreview(const FrameBuffer& source, bool forceScaled, FrameBuffer& display, const ScreenImage& target);

}  // namespace zelvik
