// The descriptor of every image in the texture layer, and its byte size.
#ifndef TEX_DESC_H
#define TEX_DESC_H

#include <GL/gl.h>
#include <GL/glext.h>

#include <cstddef>

// Rows are bottom-up (the first row in memory is the bottom of the picture).
// The data is a separate block; the descriptor does not own it.
struct TEX_image_desc {
	int format;  // a GL enumeration: depth, GL_ALPHA, GL_RGB(A), GL_BGR(A), the DXT formats
	int width;   // of the first (largest) level
	int height;
	int pad;     // bytes after every row of an uncompressed image
	int mips;    // non-zero: the whole chain down to 1 x 1 follows the first level
};

// Bytes of the image, every level when mips is set; 0 for an unknown format.
// 64-bit: a large image with its chain passes 2 GiB; a size past 2^60 reads as 2^60.
long long TEX_bytes_needed_for_image(const TEX_image_desc& desc);

inline bool TEX_is_dxt(int format)
{
	return format >= GL_COMPRESSED_RGB_S3TC_DXT1_EXT && format <= GL_COMPRESSED_RGBA_S3TC_DXT5_EXT;
}

// The destination block of a decoder: desc.pad from the row width (pixels, 0 =
// as wide as the image) or, with pow2 set, to the next power of two; the block
// has desc.height rows, or the next power of two with pow2. The block is
// allocated with nedmalloc when data is null, else it is the caller's, of
// data_bytes bytes (0: the caller vouches for its size). A power-of-two block
// with any padding is zeroed. 0 when the rows would be narrower than the image,
// the block too small, or memory short; nothing is written then.
int TEX_prepare_block(TEX_image_desc& desc, int bytes_per_pixel, int row_width, int pow2,
                      unsigned char*& data, size_t data_bytes, int* rows, size_t* row_bytes);

#endif
