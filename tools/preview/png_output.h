#pragma once

#include <string>

#include "image.h"

namespace preview {

// Writes `picture` as an 8-bit RGB PNG at `path`. Empty on success, else a
// message; callers write to a staged name and rename (see OutputFiles).
std::string WritePng(const Image& picture, const std::string& path);

}  // namespace preview
