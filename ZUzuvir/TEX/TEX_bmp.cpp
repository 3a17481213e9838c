#include "TEX/TEX_bmp.h"

#include <cstdint>

#include "GenC/MACIBM_alert.h"
#include "OOPS_cpp/colr.h"
#include "OOPS_cpp/xmap.h"

static const char* const kFile = "ZUzuvir/TEX/TEX_bmp";

// Little-endian fields read at the cursor; a field past the end reads as 0.
static uint32_t read_le(xmap_class* f, int bytes)
{
	uint32_t v = 0;
	if (f->end - f->cursor >= bytes)
		for (int i = 0; i < bytes; ++i) v |= (uint32_t)(unsigned char)f->cursor[i] << (8 * i);
	f->cursor += f->end - f->cursor >= bytes ? bytes : f->end - f->cursor;
	return v;
}

int TEX_load_bmp(const std::string& path, xmap_class* file, unsigned char*& data, unsigned long format, int row_width,
                 int pow2, TEX_image_desc& desc, size_t data_bytes)
{
	int bpp = format == GL_RGB ? 3 : format == GL_RGBA ? 4 : format == GL_ALPHA ? 1 : 0;
	if (!bpp) __MACIBM_alert(0, "Illegal desired format for bmp.", path, "", "", t_exit, kFile, 27);
	if (!file || !file->base || file->base == file->end) return 0;

	file->cursor = file->base;
	read_le(file, 2);  // "BM"
	read_le(file, 4);  // file size
	read_le(file, 2);
	read_le(file, 2);
	const uint32_t offset = read_le(file, 4);
	read_le(file, 4);  // header size
	const int32_t width = (int32_t)read_le(file, 4);
	const int32_t height = (int32_t)read_le(file, 4);
	read_le(file, 2);  // planes
	const uint32_t bits = read_le(file, 2);
	const uint32_t compression = read_le(file, 4);

	// Not a bitmap at all, a top-down one (negative height) or an empty one: not read.
	const uint64_t file_bytes = (uint64_t)(file->end - file->base);
	if (width < 1 || height < 1 || offset > file_bytes) return 0;
	if (bits != 24)
		__MACIBM_alert(0, "Wrong bitmap color depth for texture!", "We need 24-bit color.", "", path, t_exit, kFile, 48);
	if (compression != 0) __MACIBM_alert(0, "Bitmap is compressed!", "", "", path, t_exit, kFile, 49);

	const uint64_t src_stride = ((uint64_t)width * 3 + 3) & ~(uint64_t)3;
	if ((file_bytes - offset) / src_stride < (uint64_t)height) return 0;

	desc.format = (int)format;
	desc.width = width;
	desc.height = height;
	desc.mips = 0;
	int rows;
	size_t row_bytes;
	if (!TEX_prepare_block(desc, bpp, row_width, pow2, data, data_bytes, &rows, &row_bytes)) return 0;

	const unsigned char* gamma = colr.gamma_on ? colr.gamma_table : nullptr;
	for (int r = 0; r < height; ++r) {
		const unsigned char* s = (const unsigned char*)file->base + offset + r * src_stride;
		unsigned char* d = data + r * row_bytes;
		for (int c = 0; c < width; ++c, s += 3) {
			const unsigned char b = s[0], g = s[1], red = s[2];
			if (bpp == 1) {
				*d++ = (unsigned char)((b + g + red) / 3);
				continue;
			}
			if (bpp == 4 && red == 255 && g == 0 && b == 255) {
				d[0] = d[1] = d[2] = d[3] = 0;
				d += 4;
				continue;
			}
			*d++ = gamma ? gamma[red] : red;
			*d++ = gamma ? gamma[g] : g;
			*d++ = gamma ? gamma[b] : b;
			if (bpp == 4) *d++ = 255;
		}
	}
	return 1;
}
