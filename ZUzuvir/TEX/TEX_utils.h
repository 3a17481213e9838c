// Loading an image file by its content, and the in-place image utilities.
#ifndef TEX_UTILS_H
#define TEX_UTILS_H

#include <cstddef>
#include <string>

#include "TEX/TEX_desc.h"

// Maps app_path + path and decodes it as BMP or PNG by its first bytes (DDS is
// the texture manager's, by name). data and data_bytes as for TEX_load_png;
// row_width in pixels (0: as wide as the image). Non-zero on success.
int TEX_load_any(const std::string& path, unsigned char*& data, unsigned long format, int row_width, int follow_alpha,
                 TEX_image_desc& desc, size_t data_bytes = 0);
// TEX_load_any on the path with ".png", then with ".bmp" (in place of a
// three-letter extension). 1 or 0.
int TEX_load_any_ext(const std::string& path, unsigned char*& data, unsigned long format, int row_width,
                     int follow_alpha, TEX_image_desc& desc, size_t data_bytes = 0);

// Turns the image upside down in place, every level. 1 when a DXT1 image turned
// out to use transparent texels. An unknown format is fatal.
int TEX_flip_y(const TEX_image_desc& desc, unsigned char* data);

// Box-filters the first level in place to width / xf by height / yf.
void TEX_downscale(TEX_image_desc& desc, unsigned char* data, int xf, int yf);

// Clears the alpha of RGBA pixels within `threshold` (sum of channel distances) of key.
void TEX_chroma_key(const TEX_image_desc& desc, unsigned char* data, const unsigned char key[3], int threshold);

// Draws src, bilinearly sampled and blended by its alpha, into the rectangle of dst.
void TEX_composite(const TEX_image_desc& src, const TEX_image_desc& dst, const unsigned char* src_data,
                   unsigned char* dst_data, float left, float bottom, float right, float top);

#endif
