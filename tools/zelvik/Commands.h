// Command steps that more than one command runs (the demo runs several in turn).
#pragma once

#include <string>

#include "Tool.h"

namespace zelvik_tool {

int ListCameras(Camera& camera);
int ShowInfo(Camera& camera);
int Stream(Camera& camera, int frames, int subsample);
int Snap(Camera& camera, const std::string& path, int subsample);

// The names the tool gives the filter values, in index order 1..27; FilterIndex is 0 for an unknown name.
extern const char* const kFilterNames[27];
int FilterIndex(const std::string& name);

}  // namespace zelvik_tool
