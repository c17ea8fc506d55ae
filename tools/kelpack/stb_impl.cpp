// The image library kelpack decodes, scales and writes pictures with: the stb
// headers Debian ships (libstb-dev), compiled here once so that every build of
// kelpack, the Windows one included, carries the same code. Only the formats
// packagers hand in are compiled; kelpack reads files itself, so no stdio.
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_GIF
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
// The launcher takes bitmaps up to 65535 pixels in each direction.
#define STBI_MAX_DIMENSIONS 65535
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb_image_resize.h>
