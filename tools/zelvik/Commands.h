// Command steps that more than one command runs (the demo runs several in turn).
#pragma once

#include <string>

#include "Tool.h"

namespace zelvik_tool {

int ListCameras(Camera& camera);
int ShowInfo(Camera& camera);
int Stream(Camera& camera, int frames, int subsample);
int Snap(Camera& camera, const std::string& path, int subsample);

// The filter value the tool calls name (the library's table of tool names), or 0 for an unknown name.
int FilterIndex(const std::string& name);

}  // namespace zelvik_tool
