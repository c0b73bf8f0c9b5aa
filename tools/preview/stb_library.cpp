// stb_image (reading pictures) and stb_image_write (PNG on Windows), compiled
// into the Windows tool; natively the same readers come as Debian's libstb.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image.h>
#include <stb_image_write.h>
