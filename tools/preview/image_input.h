// Reading the user's pictures: PNG, JPEG, BMP, GIF (first frame), TGA, PNM and
// the other formats of the stb_image library, all turned into 8-bit RGB.
#pragma once

#include <string>

#include "image.h"

namespace preview {

// Empty on success, else a message that names the file and says what is wrong.
// `note` says what was lost on the way (a transparency the module cannot
// show), or stays empty.
std::string LoadPicture(const std::string& path, Image& picture, std::string& note);

}  // namespace preview
