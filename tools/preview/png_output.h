#pragma once

#include <string>

#include "host/test_surface.h"

namespace preview {

// Writes the width x height rectangle at (x, y) as an 8-bit RGB PNG. The file
// appears whole or not at all (written aside, then renamed). Empty on success,
// else a message.
std::string WritePng(const refhost::TestSurface& surface, int x, int y, int width, int height,
                     const std::string& path);

}  // namespace preview
