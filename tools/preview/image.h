// The tool's pictures, frames and sheets all pass through the host's one
// picture shape (host/image.h); here the largest the tool takes in.
#pragma once

#include <cstdint>

#include "host/image.h"

namespace preview {

using refhost::Image;

// The largest picture the tool takes in: the animation format's limit per side,
// and a pixel budget that keeps three surfaces well inside memory.
inline constexpr int32_t kMaxSide = 16383;
inline constexpr int64_t kMaxPixels = int64_t{64} << 20;

}  // namespace preview
