// The built-in pair of pictures: two generated scenes, different enough in
// colour and structure that every transition reads clearly between them.
#pragma once

#include "host/test_surface.h"

namespace preview {

void DrawSunsetPicture(refhost::TestSurface& surface);  // source A: warm sky, sun, hills
void DrawTilePicture(refhost::TestSurface& surface);    // source B: cool tiles with rings

}  // namespace preview
