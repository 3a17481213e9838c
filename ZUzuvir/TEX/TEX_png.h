// PNG images through libpng: reading from a mapped file into the texture
// layer's layout, and writing. One read at a time (module state).
#ifndef TEX_PNG_H
#define TEX_PNG_H

#include <png.h>

#include <cstddef>
#include <string>

#include "TEX/TEX_desc.h"

class xmap_class;

extern xmap_class* png_mapped_file;  // the file being read, for my_readbuf; null between reads
extern std::string ping_path;        // the file being read or written, for the messages

// Decodes a mapped PNG into `format` (GL_RGB, GL_RGBA or GL_ALPHA), rows
// bottom-up. data null: allocated with nedmalloc; else the caller's block of
// data_bytes bytes (0: unchecked). row_width in pixels (0: as wide as the
// image); pow2 pads rows and columns to powers of two; follow_alpha lets the
// file decide between GL_RGB and GL_RGBA. 1 on success; 0 for a missing or
// short file, or an image that does not fit. Malformed files are fatal.
int TEX_load_png(const std::string& path, xmap_class* file, unsigned char*& data, unsigned long format,
                 int row_width, int pow2, int follow_alpha, TEX_image_desc& desc, size_t data_bytes = 0);

// Writes a GL_RGB, GL_RGBA or GL_ALPHA image to app_path + path. 1 on success.
int TEX_save_png(const std::string& path, const TEX_image_desc& desc, const unsigned char* data);

// Saves scratch_array: GL_RGBA when bytes_per_pixel is 4, else GL_RGB.
int write_png_to_disk(std::string path, int width, int height, int bytes_per_pixel);

// libpng's callbacks.
png_voidp my_malloc(png_structp png, png_alloc_size_t size);
void      my_free(png_structp png, png_voidp ptr);
void      my_readbuf(png_structp png, png_bytep dest, png_size_t length);
void      my_error(png_structp png, png_const_charp message);
void      my_warning(png_structp png, png_const_charp message);

#endif
