// Command steps that more than one command runs (the demo runs several in turn).
#pragma once

#include <string>

#include "Tool.h"

namespace zelvik_tool {

int ListCameras(Camera& camera);
int ShowInfo(Camera& camera);
int Stream(Camera& camera, int frames, int subsample);
// Writes the form the extension of path names (JPEG quality "high", "normal" or "low") in colour mode bits.
int Snap(Camera& camera, const std::string& path, int subsample, int bits = 24, const std::string& quality = "normal");
// Records path for seconds through Zelvik_Record and prints what was written.
int Record(Camera& camera, const std::string& path, double seconds, int subsample, int bits);

// The filter value the tool calls name (the library's table of tool names), or 0 for an unknown name.
int FilterIndex(const std::string& name);

}  // namespace zelvik_tool
