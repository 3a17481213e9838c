#include "TEX/TEX_desc.h"

#include <squish.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "UTL/nedmalloc.h"

// Sizes stop growing here: more than any file or block, and safe to add to.
static const long long size_cap = 1LL << 60;

static long long rows_bytes(long long row, long long h)
{
	return row > 0 && h > size_cap / row ? size_cap : row * h;
}

static long long level_bytes(int format, long long w, long long h, long long pad)
{
	switch (format) {
	case GL_DEPTH_COMPONENT:
	case GL_DEPTH_COMPONENT32: return rows_bytes(w * 4, h);
	case GL_ALPHA: return rows_bytes(w + pad, h);
	case GL_RGB:
	case GL_BGR: return rows_bytes(w * 3 + pad, h);
	case GL_RGBA:
	case GL_BGRA: return rows_bytes(w * 4 + pad, h);
	case GL_COMPRESSED_RGB_S3TC_DXT1_EXT:
	case GL_COMPRESSED_RGBA_S3TC_DXT1_EXT:
	case GL_COMPRESSED_RGBA_S3TC_DXT3_EXT:
	case GL_COMPRESSED_RGBA_S3TC_DXT5_EXT: {
		int flags = format == GL_COMPRESSED_RGBA_S3TC_DXT3_EXT   ? squish::kDxt3
		            : format == GL_COMPRESSED_RGBA_S3TC_DXT5_EXT ? squish::kDxt5
		                                                          : squish::kDxt1;
		// squish counts in int; beyond 32767 pixels a side its answer would overflow.
		if (w <= 32767 && h <= 32767) return squish::GetStorageRequirements((int)w, (int)h, flags);
		return rows_bytes((w + 3) / 4 * (flags == squish::kDxt1 ? 8 : 16), (h + 3) / 4);
	}
	}
	return 0;
}

long long TEX_bytes_needed_for_image(const TEX_image_desc& desc)
{
	long long w = desc.width, h = desc.height, total = 0;
	if (w < 1 || h < 1) return 0;
	for (;;) {
		long long n = level_bytes(desc.format, w, h, desc.pad);
		if (n == 0) return 0;
		total = std::min(total + n, size_cap);
		if (!desc.mips || (w == 1 && h == 1)) break;
		if (w >= 2) w /= 2;
		if (h >= 2) h /= 2;
	}
	return total;
}

static long long next_pow2(long long v)
{
	long long p = 1;
	while (p < v) p *= 2;
	return p;
}

int TEX_prepare_block(TEX_image_desc& desc, int bpp, int row_width, int pow2, unsigned char*& data,
                      size_t data_bytes, int* rows_out, size_t* row_bytes_out)
{
	long long w = desc.width, h = desc.height;
	if (w < 1 || h < 1) return 0;
	long long pad = 0;
	if (row_width) pad = (row_width - w) * bpp;
	if (pow2) pad = (next_pow2(w) - w) * bpp;
	if (pad < 0) return 0;
	long long rows = pow2 ? next_pow2(h) : h;
	long long row_bytes = w * bpp + pad;
	// Every count must fit the descriptor's ints, and the block the address space.
	if (pad > INT_MAX || rows > INT_MAX || row_bytes > LLONG_MAX / rows) return 0;
	long long total = row_bytes * rows;
	if (data && data_bytes && (unsigned long long)total > data_bytes) return 0;
	if (!data) {
		data = (unsigned char*)nedmalloc((size_t)total);
		if (!data) return 0;
	}
	if (pow2 && (pad > 0 || rows > h)) memset(data, 0, (size_t)total);
	desc.pad = (int)pad;
	*rows_out = (int)rows;
	*row_bytes_out = (size_t)row_bytes;
	return 1;
}
