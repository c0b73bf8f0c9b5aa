// The built-in pair of pictures: two generated scenes, different enough in
// colour and structure that every transition reads clearly between them. A is
// warm, smooth and landscape-shaped; B is cool, sharp-edged and regular.
#pragma once

#include <cstdint>

#include "host/image.h"

namespace refhost {

Image SunsetPicture(int32_t width, int32_t height);  // source A: sky, sun, hills, a lake
Image TilePicture(int32_t width, int32_t height);    // source B: blue tiles crossed by rings

}  // namespace refhost
