// DDS files (DXT1, DXT3, DXT5, BGR, BGRA), S3TC compression through libsquish,
// and the block operations that turn compressed images upside down.
#ifndef TEX_DDS_H
#define TEX_DDS_H

#include <cstdint>
#include <string>

#include "TEX/TEX_desc.h"

class xmap_class;

// The 124-byte header after the "DDS " magic, little-endian as stored.
#pragma pack(push, 1)
struct DDSURFACEDESC2 {
	uint32_t dwSize;  // 124
	uint32_t dwFlags;
	uint32_t dwHeight;
	uint32_t dwWidth;
	uint32_t dwLinearSize;
	uint32_t dwDepth;
	uint32_t dwMipMapCount;
	uint32_t dwReserved1[11];
	struct {
		uint32_t dwSize;  // 32
		uint32_t dwFlags;
		uint32_t dwFourCC;
		uint32_t dwRGBBitCount;
		uint32_t dwMasks[4];
	} ddpfPixelFormat;
	uint32_t dwCaps[4];
	uint32_t dwReserved2;
};
#pragma pack(pop)
static_assert(sizeof(DDSURFACEDESC2) == 124, "the DDS header is 124 bytes");

extern const DDSURFACEDESC2 ddsd2_zero;  // the writer starts every header from it

// Range fit, cluster fit, iterative cluster fit.
enum TEX_s3tc_quality { TEX_s3tc_fast = 0, TEX_s3tc_normal = 1, TEX_s3tc_best = 2 };

// Recognises a DDS file and points data at its pixels inside the mapping (no
// copy: the mapping must outlive their use). 0 for anything else, for a chain
// longer than the file, and for uncompressed data other than 24-bit BGR or
// 32-bit BGRA.
int TEX_load_dds(const std::string& path, xmap_class* file, const unsigned char*& data, TEX_image_desc& desc);

// Writes a GL_RGB (as DXT1) or GL_RGBA (as DXT5) image with its whole mip chain
// to app_path + path. 0 when the file cannot be written; other formats are fatal.
int TEX_save_dds(const std::string& path, const unsigned char* data, const TEX_image_desc& desc);

// One level: RGBA pixels of in's size into blocks of out's DXT format, and back.
void TEX_encode_s3tc(const TEX_image_desc& in, const TEX_image_desc& out, const unsigned char* rgba,
                     unsigned char* blocks, TEX_s3tc_quality quality);
void TEX_decode_s3tc(const TEX_image_desc& in, const TEX_image_desc& out, const unsigned char* blocks,
                     unsigned char* rgba);

// Each flips one row of blocks internally (the texel rows of every block).
int  nv_flip_blocks_dxtc1(unsigned char* blocks, int count, int alpha_seen);  // the updated alpha-seen flag
int  nv_flip_blocks_dxtc3(unsigned char* blocks, int count);
int  nv_flip_blocks_dxtc5(unsigned char* blocks, int count);
void nv_flip_dxt5_alpha(unsigned char* block);

// The first `rows` texel rows of each block reversed (a level less than 4 high);
// the flippers above are this with 4. Returns the DXT1 alpha-seen flag.
int TEX_flip_block_rows(int format, unsigned char* blocks, int count, int rows, int alpha_seen);

// Maps a colour block's endpoints through the palette's gamma table, keeping its mode.
void nv_gamma_correct(unsigned char* block);
int  IncColor565(uint16_t& color);  // one step up: 0 at white
int  DecColor565(uint16_t& color);  // one step down: 0 at black

#endif
