#include "TEX/TEX_utils.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "GenC/MACIBM_alert.h"
#include "OOPS_cpp/colr.h"
#include "OOPS_cpp/xmap.h"
#include "TEX/TEX_bmp.h"
#include "TEX/TEX_dds.h"
#include "TEX/TEX_png.h"
#include "UTL/nedmalloc.h"

static const char* const kFile = "ZUzuvir/TEX/TEX_utils";

int TEX_load_any(const std::string& path, unsigned char*& data, unsigned long format, int row_width, int follow_alpha,
                 TEX_image_desc& desc, size_t data_bytes)
{
	xmap_class file(path);
	if (!file.base || file.end - file.base <= 7) return 0;
	if (file.base[0] == 'B' && file.base[1] == 'M' &&
	    TEX_load_bmp(path, &file, data, format, row_width, 0, desc, data_bytes))
		return 1;
	if (png_sig_cmp((png_const_bytep)file.base, 0, 8) == 0)
		return TEX_load_png(path, &file, data, format, row_width, 0, follow_alpha, desc, data_bytes);
	return 0;
}

int TEX_load_any_ext(const std::string& path, unsigned char*& data, unsigned long format, int row_width,
                     int follow_alpha, TEX_image_desc& desc, size_t data_bytes)
{
	const std::string stem = path.size() > 4 && path[path.size() - 4] == '.' ? path.substr(0, path.size() - 4) : path;
	if (TEX_load_any(stem + ".png", data, format, row_width, follow_alpha, desc, data_bytes)) return 1;
	return TEX_load_any(stem + ".bmp", data, format, row_width, follow_alpha, desc, data_bytes) ? 1 : 0;
}

static void flip_rows(unsigned char* data, size_t row_bytes, int rows)
{
	for (int i = 0; i < rows / 2; ++i)
		std::swap_ranges(data + i * row_bytes, data + (i + 1) * row_bytes, data + (rows - 1 - i) * row_bytes);
}

// A level whose height is neither a multiple of 4 nor below 4 has its last block
// row only partly used: the texel rows cannot be moved between blocks as they
// are, so the level is decoded, flipped and compressed again.
static int flip_dxt_by_reencoding(const TEX_image_desc& level, unsigned char* data, int alpha_seen)
{
	const int w = level.width, h = level.height;
	unsigned char* rgba = (unsigned char*)nedmalloc((size_t)w * h * 4);
	if (!rgba) return alpha_seen;
	TEX_decode_s3tc(level, level, data, rgba);
	flip_rows(rgba, (size_t)w * 4, h);
	const bool dxt1 = level.format == GL_COMPRESSED_RGB_S3TC_DXT1_EXT || level.format == GL_COMPRESSED_RGBA_S3TC_DXT1_EXT;
	for (size_t i = 0; i < (size_t)w * h * 4; i += 4) {
		if (dxt1 && rgba[i + 3] < 128) alpha_seen = 1;
		if (colr.gamma_on)
			for (int c = 0; c < 3; ++c) rgba[i + c] = colr.gamma_table[rgba[i + c]];
	}
	TEX_encode_s3tc(level, level, rgba, data, TEX_s3tc_normal);
	nedfree(rgba);
	return alpha_seen;
}

static int flip_dxt_level(const TEX_image_desc& level, unsigned char* data, int alpha_seen)
{
	const int f = level.format;
	const size_t block = f == GL_COMPRESSED_RGB_S3TC_DXT1_EXT || f == GL_COMPRESSED_RGBA_S3TC_DXT1_EXT ? 8 : 16;
	// Partial blocks count: a level 2 wide still has one block per row.
	const int across = (level.width + 3) / 4, down = (level.height + 3) / 4;
	const size_t row = across * block;
	if (level.height < 4) return TEX_flip_block_rows(f, data, across, level.height, alpha_seen);
	if (level.height % 4) return flip_dxt_by_reencoding(level, data, alpha_seen);
	for (int i = 0; i < down / 2; ++i) {
		unsigned char* a = data + i * row;
		unsigned char* b = data + (down - 1 - i) * row;
		alpha_seen = TEX_flip_block_rows(f, a, across, 4, alpha_seen);
		alpha_seen = TEX_flip_block_rows(f, b, across, 4, alpha_seen);
		std::swap_ranges(a, a + row, b);
	}
	if (down % 2) alpha_seen = TEX_flip_block_rows(f, data + (down / 2) * row, across, 4, alpha_seen);
	return alpha_seen;
}

int TEX_flip_y(const TEX_image_desc& desc, unsigned char* data)
{
	int alpha_seen = 0;
	if (desc.width < 1 || desc.height < 1) return 0;
	TEX_image_desc level = desc;
	level.mips = 0;
	for (;;) {
		const size_t size = (size_t)TEX_bytes_needed_for_image(level);
		switch (level.format) {
		case GL_ALPHA:
		case GL_RGB:
		case GL_RGBA:
		case GL_BGR:
		case GL_BGRA: flip_rows(data, size / level.height, level.height); break;
		default:
			if (!TEX_is_dxt(level.format)) __MACIBM_alert(0, "Illegal format!", "", "", "", t_exit, kFile, 441);
			alpha_seen = flip_dxt_level(level, data, alpha_seen);
		}
		if (!desc.mips || (level.width == 1 && level.height == 1)) break;
		data += size;
		if (level.width >= 2) level.width /= 2;
		if (level.height >= 2) level.height /= 2;
	}
	return alpha_seen;
}

static int doublings(int factor)
{
	int k = 0;
	while ((1LL << k) < factor) ++k;
	return k;
}

void TEX_downscale(TEX_image_desc& desc, unsigned char* data, int xf, int yf)
{
	if (xf < 1 || yf < 1) return;
	const int bpp = desc.format == GL_RGBA ? 4 : desc.format == GL_RGB ? 3 : 1;
	const int nw = desc.width / xf, nh = desc.height / yf;
	const int shift = doublings(xf) + doublings(yf);
	const size_t in_row = (size_t)desc.width * bpp + desc.pad, out_row = (size_t)nw * bpp + desc.pad;
	// Every output byte lies at or before the first input byte it is made of.
	for (int y = 0; y < nh; ++y)
		for (int x = 0; x < nw; ++x)
			for (int c = 0; c < bpp; ++c) {
				unsigned long long sum = 0;
				for (int yy = 0; yy < yf; ++yy) {
					const unsigned char* s = data + (size_t)(y * yf + yy) * in_row + (size_t)x * xf * bpp + c;
					for (int xx = 0; xx < xf; ++xx) sum += s[(size_t)xx * bpp];
				}
				data[y * out_row + (size_t)x * bpp + c] = (unsigned char)(sum >> shift);
			}
	desc.width = nw;
	desc.height = nh;
}

void TEX_chroma_key(const TEX_image_desc& desc, unsigned char* data, const unsigned char key[3], int threshold)
{
	const size_t row = (size_t)desc.width * 4 + desc.pad;
	for (int r = 0; r < desc.height; ++r)
		for (int c = 0; c < desc.width; ++c) {
			unsigned char* p = data + r * row + (size_t)c * 4;
			if (abs(p[0] - key[0]) + abs(p[1] - key[1]) + abs(p[2] - key[2]) < threshold) p[3] = 0;
		}
}

static unsigned char clamp_byte(float v)
{
	return v <= 0 ? 0 : v >= 255 ? 255 : (unsigned char)v;
}

void TEX_composite(const TEX_image_desc& src, const TEX_image_desc& dst, const unsigned char* src_data,
                   unsigned char* dst_data, float left, float bottom, float right, float top)
{
	const int sbpp = src.format == GL_RGBA ? 4 : 3, dbpp = dst.format == GL_RGBA ? 4 : 3;
	const int c0 = std::max((int)std::floor(left), 0), c1 = std::min((int)std::ceil(right), dst.width);
	const int r0 = std::max((int)std::floor(bottom), 0), r1 = std::min((int)std::ceil(top), dst.height);
	const size_t srow = (size_t)src.width * sbpp + src.pad, drow = (size_t)dst.width * dbpp + dst.pad;
	for (int r = r0; r < r1; ++r)
		for (int c = c0; c < c1; ++c) {
			const float x = right == left ? src.width / 2.0f : src.width / (right - left) * (c - left);
			const float y = top == bottom ? src.height / 2.0f : src.height / (top - bottom) * (r - bottom);
			const int ix = (int)std::floor(x), iy = (int)std::floor(y);
			const float fx = x - ix, fy = y - iy;
			const int sx[4] = {ix, ix + 1, ix, ix + 1}, sy[4] = {iy, iy, iy + 1, iy + 1};
			float w[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
			const unsigned char* s[4];
			for (int k = 0; k < 4; ++k) {
				const bool inside = sx[k] >= 0 && sx[k] < src.width && sy[k] >= 0 && sy[k] < src.height;
				s[k] = inside ? src_data + sy[k] * srow + (size_t)sx[k] * sbpp : nullptr;
				if (!inside) w[k] = 0;
			}
			unsigned char* d = dst_data + r * drow + (size_t)c * dbpp;
			if (sbpp == 4) {
				float gain = 0;
				for (int k = 0; k < 4; ++k)
					if (s[k]) gain += w[k] * s[k][3];
				if (dbpp == 4) d[3] = clamp_byte((float)(int)(d[3] + gain));
				for (int k = 0; k < 4; ++k)
					if (s[k]) w[k] *= s[k][3] / 255.0f;
			} else if (dbpp == 4) {
				d[3] = clamp_byte((float)(int)(d[3] + 255 * (w[0] + w[1] + w[2] + w[3])));
			}
			const float total = w[0] + w[1] + w[2] + w[3];
			for (int ch = 0; ch < 3; ++ch) {
				float v = d[ch] * (1 - total);
				for (int k = 0; k < 4; ++k)
					if (s[k]) v += w[k] * s[k][ch];
				d[ch] = clamp_byte(v);
			}
		}
}
