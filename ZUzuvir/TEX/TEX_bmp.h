// Uncompressed 24-bit Windows bitmaps, read from a mapped file.
#ifndef TEX_BMP_H
#define TEX_BMP_H

#include <cstddef>
#include <string>

#include "TEX/TEX_desc.h"

class xmap_class;

// Decodes into `format` (GL_RGB, GL_RGBA or GL_ALPHA), rows bottom-up; pure
// magenta is transparent in GL_RGBA. Arguments as for TEX_load_png. 1 on
// success; 0 for a missing file, a width or height below 1, rows past the end
// of the file, or an image that does not fit. Other format faults are fatal.
int TEX_load_bmp(const std::string& path, xmap_class* file, unsigned char*& data, unsigned long format, int row_width,
                 int pow2, TEX_image_desc& desc, size_t data_bytes = 0);

#endif
