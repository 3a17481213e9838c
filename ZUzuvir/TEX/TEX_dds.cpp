#include "TEX/TEX_dds.h"

#include <squish.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "GenC/MACIBM_alert.h"
#include "GenC/hl_globals.h"
#include "OOPS_cpp/colr.h"
#include "OOPS_cpp/xmap.h"
#include "UTL/nedmalloc.h"

static const char* const kFile = "ZUzuvir/TEX/TEX_dds";

const DDSURFACEDESC2 ddsd2_zero = {};

static const uint32_t dds_flag_mipmap_count = 0x20000;
static const uint32_t dds_pf_fourcc = 0x4, dds_pf_rgb = 0x40, dds_pf_alpha = 0x1;
static const uint32_t dds_caps_mipmap = 0x400000;

static uint32_t fourcc(const char* s)
{
	return (uint32_t)(unsigned char)s[0] | (uint32_t)(unsigned char)s[1] << 8 | (uint32_t)(unsigned char)s[2] << 16 |
	       (uint32_t)(unsigned char)s[3] << 24;
}

int TEX_load_dds(const std::string&, xmap_class* file, const unsigned char*& data, TEX_image_desc& desc)
{
	if (!file || !file->base || file->end - file->base < 128 || memcmp(file->base, "DDS ", 4) != 0) return 0;
	DDSURFACEDESC2 h;
	memcpy(&h, file->base + 4, sizeof(h));

	int format = 0;
	const uint32_t pf = h.ddpfPixelFormat.dwFlags;
	if (pf & dds_pf_fourcc) {
		const uint32_t code = h.ddpfPixelFormat.dwFourCC;
		if (code == fourcc("DXT1")) format = GL_COMPRESSED_RGB_S3TC_DXT1_EXT;
		else if (code == fourcc("DXT3")) format = GL_COMPRESSED_RGBA_S3TC_DXT3_EXT;
		else if (code == fourcc("DXT5")) format = GL_COMPRESSED_RGBA_S3TC_DXT5_EXT;
		else return 0;
	}
	if (pf & dds_pf_rgb) {
		// Only the two layouts the texture layer uploads; anything else would be misread.
		format = (pf & dds_pf_alpha) ? GL_BGRA : GL_BGR;
		if (h.ddpfPixelFormat.dwRGBBitCount != (format == GL_BGRA ? 32u : 24u)) return 0;
	}
	if (!format) return 0;
	if (h.dwWidth < 1 || h.dwHeight < 1 || h.dwWidth > 0x7fffffff || h.dwHeight > 0x7fffffff) return 0;

	desc.format = format;
	desc.width = (int)h.dwWidth;
	desc.height = (int)h.dwHeight;
	desc.pad = 0;
	desc.mips = (h.dwFlags & dds_flag_mipmap_count) && (h.dwCaps[0] & dds_caps_mipmap);
	if (TEX_bytes_needed_for_image(desc) > file->end - file->base - 128) return 0;
	data = (const unsigned char*)file->base + 128;
	return 1;
}

// Squish's perceptual weights, as its older releases applied by default.
static float perceptual_metric[3] = {0.2126f, 0.7152f, 0.0722f};

static int squish_format(int format)
{
	if (format == GL_COMPRESSED_RGBA_S3TC_DXT3_EXT) return squish::kDxt3;
	if (format == GL_COMPRESSED_RGBA_S3TC_DXT5_EXT) return squish::kDxt5;
	return squish::kDxt1;
}

void TEX_encode_s3tc(const TEX_image_desc& in, const TEX_image_desc& out, const unsigned char* rgba,
                     unsigned char* blocks, TEX_s3tc_quality quality)
{
	int fit = quality == TEX_s3tc_fast   ? squish::kColourRangeFit
	          : quality == TEX_s3tc_best ? squish::kColourIterativeClusterFit
	                                     : squish::kColourClusterFit;
	squish::CompressImage(rgba, in.width, in.height, blocks, squish_format(out.format) | fit, perceptual_metric);
}

void TEX_decode_s3tc(const TEX_image_desc& in, const TEX_image_desc&, const unsigned char* blocks, unsigned char* rgba)
{
	squish::DecompressImage(rgba, in.width, in.height, blocks, squish_format(in.format));
}

// Halves an RGBA image in place: 2 x 2 boxes, or pairs when one side is 1.
static void halve_rgba(unsigned char* p, int w, int h)
{
	const int w2 = w > 1 ? w / 2 : 1, h2 = h > 1 ? h / 2 : 1;
	for (int y = 0; y < h2; ++y)
		for (int x = 0; x < w2; ++x)
			for (int c = 0; c < 4; ++c) {
				const unsigned char* s = p + ((size_t)(h > 1 ? 2 * y : y) * w + (w > 1 ? 2 * x : x)) * 4 + c;
				int sum = s[0], n = 1;
				if (w > 1) sum += s[4], ++n;
				if (h > 1) sum += s[(size_t)w * 4], ++n;
				if (w > 1 && h > 1) sum += s[(size_t)w * 4 + 4], ++n;
				p[((size_t)y * w2 + x) * 4 + c] = (unsigned char)(sum / n);
			}
}

int TEX_save_dds(const std::string& path, const unsigned char* data, const TEX_image_desc& desc)
{
	if (desc.format != GL_RGBA && desc.format != GL_RGB)
		__MACIBM_alert(0, "rel_assert Error! Possibly an out of range vector! Attach the debugger and see who called this!",
		               "in_desc.format == GL_RGBA || in_desc.format == GL_RGB", "TEX_save_dds",
		               "Please report this to Quillon Dynamics.", t_exit, kFile, 223);
	const std::string full = app_path + path;
	FILE* fp = fopen(full.c_str(), "wb");
	if (!fp) return 0;

	int w = desc.width, h = desc.height;
	const int bpp = desc.format == GL_RGBA ? 4 : 3;
	TEX_image_desc level = {desc.format == GL_RGBA ? GL_COMPRESSED_RGBA_S3TC_DXT5_EXT : GL_COMPRESSED_RGB_S3TC_DXT1_EXT,
	                        w, h, 0, 0};
	const long long first_bytes = TEX_bytes_needed_for_image(level);
	unsigned char* work = first_bytes ? (unsigned char*)nedmalloc((size_t)w * h * 4) : nullptr;
	unsigned char* blocks = work ? (unsigned char*)nedmalloc((size_t)first_bytes) : nullptr;
	bool ok = blocks != nullptr;

	if (ok) {
		const size_t src_row = (size_t)w * bpp + desc.pad;
		for (int r = 0; r < h; ++r) {
			const unsigned char* s = data + r * src_row;
			unsigned char* d = work + (size_t)(h - 1 - r) * w * 4;
			for (int c = 0; c < w; ++c, s += bpp, d += 4) {
				d[0] = s[0], d[1] = s[1], d[2] = s[2];
				d[3] = bpp == 4 ? s[3] : 255;
			}
		}
		int mips = 1;
		for (int tw = w, th = h; tw > 1 || th > 1; ++mips) {
			if (tw > 1) tw /= 2;
			if (th > 1) th /= 2;
		}
		DDSURFACEDESC2 hdr = ddsd2_zero;
		hdr.dwSize = 124;
		hdr.dwFlags = 0xA1007;
		hdr.dwHeight = h;
		hdr.dwWidth = w;
		hdr.dwLinearSize = (uint32_t)first_bytes;
		hdr.dwMipMapCount = mips;
		hdr.ddpfPixelFormat.dwSize = 32;
		hdr.ddpfPixelFormat.dwFlags = dds_pf_fourcc;
		hdr.ddpfPixelFormat.dwFourCC = fourcc(desc.format == GL_RGBA ? "DXT5" : "DXT1");
		hdr.dwCaps[0] = 0x401008;
		ok = fwrite("DDS ", 1, 4, fp) == 4 && fwrite(&hdr, sizeof(hdr), 1, fp) == 1;

		for (; ok; level.width = w, level.height = h) {
			TEX_encode_s3tc(level, level, work, blocks, TEX_s3tc_best);
			const size_t n = (size_t)TEX_bytes_needed_for_image(level);
			ok = fwrite(blocks, 1, n, fp) == n;
			if (w == 1 && h == 1) break;
			halve_rgba(work, w, h);
			if (w > 1) w /= 2;
			if (h > 1) h /= 2;
		}
	}
	if (blocks) nedfree(blocks);  // the allocator takes no null block
	if (work) nedfree(work);
	if (fclose(fp) != 0) ok = false;
	if (!ok) remove(full.c_str());
	return ok;
}

static uint16_t get16(const unsigned char* p)
{
	return (uint16_t)(p[0] | p[1] << 8);
}
static void put16(unsigned char* p, uint16_t v)
{
	p[0] = (unsigned char)v;
	p[1] = (unsigned char)(v >> 8);
}

// DXT3: explicit alpha, one 16-bit row per texel row.
static void reverse_alpha16(unsigned char* block, int rows)
{
	for (int i = 0; i < rows / 2; ++i) {
		std::swap(block[2 * i], block[2 * (rows - 1 - i)]);
		std::swap(block[2 * i + 1], block[2 * (rows - 1 - i) + 1]);
	}
}

// DXT5: two endpoints, then 48 bits of 3-bit indices, 12 bits per texel row.
static void reverse_alpha12(unsigned char* block, int rows)
{
	uint64_t bits = 0, out = 0;
	for (int i = 0; i < 6; ++i) bits |= (uint64_t)block[2 + i] << (8 * i);
	for (int r = 0; r < 4; ++r) {
		const int from = r < rows ? rows - 1 - r : r;
		out |= ((bits >> (12 * from)) & 0xfff) << (12 * r);
	}
	for (int i = 0; i < 6; ++i) block[2 + i] = (unsigned char)(out >> (8 * i));
}

void nv_flip_dxt5_alpha(unsigned char* block)
{
	reverse_alpha12(block, 4);
}

// A three-colour block that uses index 3 has transparent texels.
static bool uses_transparent_index(const unsigned char* colour)
{
	if (get16(colour) > get16(colour + 2)) return false;
	for (int i = 4; i < 8; ++i)
		for (int k = 0; k < 8; k += 2)
			if (((colour[i] >> k) & 3) == 3) return true;
	return false;
}

int TEX_flip_block_rows(int format, unsigned char* blocks, int count, int rows, int alpha_seen)
{
	const bool dxt1 = squish_format(format) == squish::kDxt1;
	const int size = dxt1 ? 8 : 16;
	for (int i = 0; i < count; ++i) {
		unsigned char* b = blocks + (size_t)i * size;
		unsigned char* colour = dxt1 ? b : b + 8;
		if (format == GL_COMPRESSED_RGBA_S3TC_DXT3_EXT) reverse_alpha16(b, rows);
		if (format == GL_COMPRESSED_RGBA_S3TC_DXT5_EXT) reverse_alpha12(b, rows);
		if (dxt1 && !alpha_seen && uses_transparent_index(colour)) alpha_seen = 1;
		std::reverse(colour + 4, colour + 4 + rows);
		if (colr.gamma_on) nv_gamma_correct(colour);
	}
	return alpha_seen;
}

int nv_flip_blocks_dxtc1(unsigned char* blocks, int count, int alpha_seen)
{
	return TEX_flip_block_rows(GL_COMPRESSED_RGB_S3TC_DXT1_EXT, blocks, count, 4, alpha_seen);
}

int nv_flip_blocks_dxtc3(unsigned char* blocks, int count)
{
	TEX_flip_block_rows(GL_COMPRESSED_RGBA_S3TC_DXT3_EXT, blocks, count, 4, 0);
	return 0;
}

int nv_flip_blocks_dxtc5(unsigned char* blocks, int count)
{
	TEX_flip_block_rows(GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, blocks, count, 4, 0);
	return 0;
}

int IncColor565(uint16_t& c)
{
	const int r = c >> 11, g = (c >> 5) & 63, b = c & 31;
	if (g < 63) c += 1 << 5;
	else if (b < 31) c += 1;
	else if (r < 31) c += 1 << 11;
	else return 0;
	return 1;
}

int DecColor565(uint16_t& c)
{
	const int r = c >> 11, g = (c >> 5) & 63, b = c & 31;
	if (g > 0) c -= 1 << 5;
	else if (b > 0) c -= 1;
	else if (r > 0) c -= 1 << 11;
	else return 0;
	return 1;
}

// Each channel widened to 8 bits by repeating its top bits, looked up, narrowed back.
static uint16_t gamma_565(uint16_t c)
{
	const unsigned char* t = colr.gamma_table;
	const int r = c >> 11, g = (c >> 5) & 63, b = c & 31;
	const int r2 = t[r * 8 + r / 4] / 8, g2 = t[g * 4 + g / 16] / 4, b2 = t[b * 8 + b / 4] / 8;
	return (uint16_t)(r2 << 11 | g2 << 5 | b2);
}

void nv_gamma_correct(unsigned char* block)
{
	const bool three = get16(block) <= get16(block + 2);
	uint16_t c0 = gamma_565(get16(block)), c1 = gamma_565(get16(block + 2));
	if ((c0 <= c1) != three) {
		if (c0 != c1) std::swap(c0, c1);
		else if (!IncColor565(c0)) DecColor565(c1);
		// Colour 0 and 1 changed places: so do their indices (and in four-colour
		// mode the two blends between them).
		for (int i = 4; i < 8; ++i) {
			unsigned char v = block[i], out = 0;
			for (int k = 0; k < 8; k += 2) {
				int idx = (v >> k) & 3;
				if (!three || idx < 2) idx ^= 1;
				out |= (unsigned char)(idx << k);
			}
			block[i] = out;
		}
	}
	put16(block, c0);
	put16(block + 2, c1);
}
