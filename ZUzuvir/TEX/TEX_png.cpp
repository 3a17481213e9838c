#include "TEX/TEX_png.h"

#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "GenC/MACIBM_alert.h"
#include "GenC/hl_globals.h"
#include "OOPS_cpp/colr.h"
#include "OOPS_cpp/xmap.h"
#include "UTL/nedmalloc.h"

static const char* const kFile = "ZUzuvir/TEX/TEX_png";

xmap_class* png_mapped_file = nullptr;
std::string ping_path;

// libpng leaves an operation by longjmp from my_error (and from png_error in
// my_readbuf): no frame between the recovery point and those calls may hold a
// C++ object with a destructor. The guarded halves below use plain data only.

png_voidp my_malloc(png_structp, png_alloc_size_t size)
{
	return nedmalloc(size);
}

void my_free(png_structp, png_voidp ptr)
{
	nedfree(ptr);
}

void my_readbuf(png_structp png, png_bytep dest, png_size_t length)
{
	xmap_class* f = png_mapped_file;
	if (!f || (size_t)(f->end - f->cursor) < length) png_error(png, "PNG Read Error, overran end of buffer!");
	memcpy(dest, f->cursor, length);
	f->cursor += length;
}

void my_error(png_structp png, png_const_charp message)
{
	__MACIBM_alert(0, "PNG error!", message, ping_path, "", t_alert, kFile, 13);
	// Our own jump: libpng's fallback would print the message to stderr first.
	png_longjmp(png, 1);
}

void my_warning(png_structp, png_const_charp message)
{
	xer << "PNG warning! " << message << ", " << ping_path << "\n";
}

enum { png_abandoned = -1, png_bad_format = -2 };

// The value of the file's gAMA chunk, or 0 when it has none. libpng 1.6 cannot
// tell: it reports an sRGB chunk as gamma 0.45455 (PNG_INFO_gAMA set) and keeps
// that over a differing gAMA, so the chunks ahead of the palette and the image
// data are walked here. As in libpng, a gAMA whose length is not 4 or whose CRC
// fails is skipped, and the first one left decides: a value libpng would refuse
// counts as none.
static double gama_chunk(const xmap_class* f)
{
	const png_byte* p = (const png_byte*)f->base + 8;
	const png_byte* const end = (const png_byte*)f->end;
	while (end - p >= 12) {
		const png_uint_32 length = png_get_uint_32(p);
		if (!memcmp(p + 4, "PLTE", 4) || !memcmp(p + 4, "IDAT", 4) || length > (size_t)(end - p) - 12) return 0;
		if (!memcmp(p + 4, "gAMA", 4) && length == 4 && crc32(0, p + 4, 8) == png_get_uint_32(p + 12)) {
			const png_uint_32 gamma = png_get_uint_32(p + 8);
			return gamma >= 16 && gamma <= 625000000 ? gamma / 100000.0 : 0;
		}
		p += 12 + (size_t)length;
	}
	return 0;
}

// Steps 6 to 14 of a read, under the recovery point: 1 done, 0 refused (the
// image does not fit), png_abandoned or png_bad_format.
static int read_guarded(png_structp png, png_infop info, unsigned char** data, unsigned long wanted, int row_width,
                        int pow2, int follow_alpha, TEX_image_desc* desc, size_t data_bytes, png_bytep** rows_out)
{
	if (setjmp(png_jmpbuf(png))) return png_abandoned;

	png_set_read_fn(png, nullptr, my_readbuf);
	// Chunks of any length that no image here needs: libpng would allocate their
	// declared length before reading them, so they are skipped unread.
	static const png_byte skipped[] = "iCCP\0iTXt\0tEXt\0zTXt\0sPLT\0pCAL\0sCAL\0eXIf";
	png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, skipped, sizeof(skipped) / 5);
	png_set_sig_bytes(png, 8);
	png_mapped_file->cursor = png_mapped_file->base + 8;

	png_read_info(png, info);
	png_uint_32 width, height;
	int bit_depth, color_type;
	png_get_IHDR(png, info, &width, &height, &bit_depth, &color_type, nullptr, nullptr, nullptr);
	// Deflate shrinks by 1032:1 at best: a header promising more rows than the
	// file could hold is refused before anything is allocated.
	const unsigned long long raw = ((unsigned long long)png_get_rowbytes(png, info) + 1) * height;
	if (raw / 1032 > (unsigned long long)(png_mapped_file->end - png_mapped_file->base)) return 0;
	// libpng knows the file is interlaced only once the header is read.
	png_set_interlace_handling(png);

	double file_gamma = gama_chunk(png_mapped_file);
	if (!file_gamma) file_gamma = 1.0 / colr.file_gamma;
	png_set_gamma(png, colr.screen_gamma, file_gamma);

	const bool has_trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
	if (color_type == PNG_COLOR_TYPE_PALETTE && bit_depth <= 8) png_set_palette_to_rgb(png);
	if (color_type == PNG_COLOR_TYPE_GRAY && bit_depth < 8) png_set_expand_gray_1_2_4_to_8(png);
	if (has_trns) png_set_tRNS_to_alpha(png);
	if (bit_depth == 16) png_set_strip_16(png);
	if (bit_depth < 8) png_set_packing(png);

	const bool file_alpha = (color_type & PNG_COLOR_MASK_ALPHA) != 0;
	unsigned long format = wanted;
	if (follow_alpha) {
		if (file_alpha && format == GL_RGB) format = GL_RGBA;
		if (!file_alpha && format == GL_RGBA) format = GL_RGB;
	}
	// After the expansions a tRNS chunk is an alpha channel like any other.
	if (format == GL_RGBA) {
		if (!file_alpha && !has_trns) png_set_filler(png, 255, PNG_FILLER_AFTER);
	} else if (file_alpha || has_trns) {
		png_set_strip_alpha(png);
	}
	const bool grey = (color_type & PNG_COLOR_MASK_COLOR) == 0;
	if (format != GL_ALPHA && grey) png_set_gray_to_rgb(png);
	if (format == GL_ALPHA && !grey) png_set_rgb_to_gray_fixed(png, 1, -1, -1);

	int bpp = format == GL_RGB ? 3 : format == GL_RGBA ? 4 : format == GL_ALPHA ? 1 : 0;
	if (!bpp) return png_bad_format;

	desc->format = (int)format;
	desc->width = (int)width;
	desc->height = (int)height;
	desc->pad = 0;
	desc->mips = 0;
	png_read_update_info(png, info);
	if (width > 0x7fffffff || height > 0x7fffffff || png_get_rowbytes(png, info) != (size_t)width * bpp) return 0;

	int rows;
	size_t row_bytes;
	if (!TEX_prepare_block(*desc, bpp, row_width, pow2, *data, data_bytes, &rows, &row_bytes)) return 0;
	png_bytep* row_ptrs = (png_bytep*)nedmalloc(sizeof(png_bytep) * height);
	if (!row_ptrs) return 0;
	*rows_out = row_ptrs;
	// The first file row is the top of the picture: it goes last.
	for (png_uint_32 i = 0; i < height; ++i) row_ptrs[i] = *data + (size_t)(height - 1 - i) * row_bytes;
	png_read_image(png, row_ptrs);
	return 1;
}

int TEX_load_png(const std::string& path, xmap_class* file, unsigned char*& data, unsigned long format, int row_width,
                 int pow2, int follow_alpha, TEX_image_desc& desc, size_t data_bytes)
{
	ping_path = path;
	png_structp png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, my_error, my_warning, nullptr,
	                                           my_malloc, my_free);
	if (!png) __MACIBM_alert(0, "PING-FILE ERROR!", "!png_ptr", path, "", t_exit, kFile, 36);
	png_infop info = png_create_info_struct(png);
	if (!info) __MACIBM_alert(0, "PING-FILE ERROR!", "!info_ptr", path, "", t_exit, kFile, 41);

	png_mapped_file = file;
	if (!file || !file->base || file->end - file->base <= 7) {
		png_mapped_file = nullptr;
		png_destroy_read_struct(&png, &info, nullptr);
		return 0;
	}
	if (png_sig_cmp((png_const_bytep)file->base, 0, 8))
		__MACIBM_alert(0, "PING-FILE ERROR!", "is_png=!png_sig_cmp(png_io_buf,0,8)", path, "", t_exit, kFile, 55);

	unsigned char* const given = data;
	png_bytep* row_ptrs = nullptr;
	int result = read_guarded(png, info, &data, format, row_width, pow2, follow_alpha, &desc, data_bytes, &row_ptrs);
	png_mapped_file = nullptr;
	png_destroy_read_struct(&png, &info, nullptr);
	// The allocator takes no null block.
	if (row_ptrs) nedfree(row_ptrs);
	if (result != 1 && !given && data) {
		nedfree(data);
		data = nullptr;
	}
	if (result == png_abandoned)
		__MACIBM_alert(0, "PING-FILE ERROR!", "setjmp(png_ptr->jmpbuf", path, "", t_exit, kFile, 63);
	if (result == png_bad_format) __MACIBM_alert(0, "Illegal bits per pixel", "", "", "", t_exit, kFile, 112);
	return result == 1;
}

static int write_guarded(png_structp png, png_infop info, FILE* fp, const TEX_image_desc* desc,
                         const unsigned char* data, int bpp, int color_type)
{
	if (setjmp(png_jmpbuf(png))) return 0;
	png_init_io(png, fp);
	png_set_filter(png, 0, PNG_FILTER_NONE);
	png_set_compression_level(png, 9);
	png_set_compression_mem_level(png, 8);
	png_set_compression_strategy(png, Z_DEFAULT_STRATEGY);
	png_set_compression_window_bits(png, 15);
	png_set_compression_method(png, 8);
	png_set_compression_buffer_size(png, 8192);
	png_set_gAMA(png, info, 1.0 / 1.8);
	png_set_IHDR(png, info, desc->width, desc->height, 8, color_type, PNG_INTERLACE_NONE,
	             PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
	png_write_info(png, info);
	const size_t row_bytes = (size_t)desc->width * bpp + desc->pad;
	for (int i = 0; i < desc->height; ++i) png_write_row(png, data + (size_t)(desc->height - 1 - i) * row_bytes);
	png_write_end(png, info);
	return 1;
}

int TEX_save_png(const std::string& path, const TEX_image_desc& desc, const unsigned char* data)
{
	int bpp, color_type;
	switch (desc.format) {
	case GL_RGB: bpp = 3, color_type = PNG_COLOR_TYPE_RGB; break;
	case GL_RGBA: bpp = 4, color_type = PNG_COLOR_TYPE_RGB_ALPHA; break;
	case GL_ALPHA: bpp = 1, color_type = PNG_COLOR_TYPE_GRAY; break;
	default: __MACIBM_alert(0, "Illegal pixel format for png-write.", "", "", "", t_exit, kFile, 164); return 0;
	}
	ping_path = path;
	const std::string full = app_path + path;
	FILE* fp = fopen(full.c_str(), "wb");
	if (!fp) return 0;
	int ok = 0;
	png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, my_error, my_warning);
	png_infop info = png ? png_create_info_struct(png) : nullptr;
	if (info) ok = write_guarded(png, info, fp, &desc, data, bpp, color_type);
	png_destroy_write_struct(&png, &info);
	if (fclose(fp) != 0) ok = 0;
	// A half-written file would pass for an image on the next read.
	if (!ok) remove(full.c_str());
	return ok;
}

int write_png_to_disk(std::string path, int width, int height, int bytes_per_pixel)
{
	TEX_image_desc desc = {bytes_per_pixel == 4 ? GL_RGBA : GL_RGB, width, height, 0, 0};
	return TEX_save_png(path, desc, scratch_array);
}
