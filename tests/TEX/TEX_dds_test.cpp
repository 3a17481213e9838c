#include <gtest/gtest.h>

#include <cstring>

#include "OOPS_cpp/colr.h"
#include "OOPS_cpp/xmap.h"
#include "TEX/TEX_dds.h"
#include "TEX/TEX_utils.h"
#include "tex_tools.h"

using namespace tex_test;

static std::vector<unsigned char> decode(const TEX_image_desc& level, const unsigned char* blocks)
{
	std::vector<unsigned char> rgba((size_t)level.width * level.height * 4);
	TEX_decode_s3tc(level, level, blocks, rgba.data());
	return rgba;
}

TEST(TexDds, ReadsImageMagickFilesWithMipmaps)
{
	zuz_test::TempDir dir;
	const struct {
		const char* compression;
		int         format;
		long long   bytes;  // 16 x 16 with its chain
	} cases[] = {
		{"dxt1", GL_COMPRESSED_RGB_S3TC_DXT1_EXT, 128 + 32 + 8 * 3},
		{"dxt5", GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, 256 + 64 + 16 * 3},
	};
	for (const auto& c : cases) {
		const std::string f = dir / (std::string(c.compression) + ".dds");
		sh(im + " -size 16x16 gradient:red-blue -swirl 120 \\( -size 16x16 gradient: -rotate 90 \\) -alpha off"
		        " -compose copy_opacity -composite -define dds:compression=" + c.compression +
		   " -define dds:mipmaps=4 " + f);
		xmap_class m(f);
		const unsigned char* data = nullptr;
		TEX_image_desc desc;
		ASSERT_EQ(TEX_load_dds(f, &m, data, desc), 1) << c.compression;
		EXPECT_EQ(desc.format, c.format);
		EXPECT_EQ(desc.mips, 1);
		EXPECT_EQ(TEX_bytes_needed_for_image(desc), c.bytes);
		EXPECT_EQ(data, (const unsigned char*)m.base + 128);
		// The file holds the top row first.
		std::vector<unsigned char> ours = decode(desc, data);
		TEX_image_desc rgba = {GL_RGBA, 16, 16, 0, 0};
		TEX_flip_y(rgba, ours.data());
		expect_pixels(c.compression, magick_pixels(f, "rgba"), ours.data(), ours.size(), 1);
	}
}

TEST(TexDds, HeaderFieldsAndRefusals)
{
	zuz_test::TempDir dir;
	auto header = [](const char* code, uint32_t pf_flags, uint32_t bits, uint32_t flags, uint32_t caps) {
		DDSURFACEDESC2 h = ddsd2_zero;
		h.dwSize = 124, h.dwFlags = flags, h.dwHeight = 4, h.dwWidth = 8;
		h.ddpfPixelFormat.dwFlags = pf_flags, h.ddpfPixelFormat.dwRGBBitCount = bits;
		memcpy(&h.ddpfPixelFormat.dwFourCC, code, 4);
		h.dwCaps[0] = caps;
		return "DDS " + std::string((const char*)&h, sizeof(h));
	};
	const std::string pixels(8 * 4 * 4 * 2, 'p');
	const struct {
		const char* name;
		std::string bytes;
		int         result, format, mips;
	} cases[] = {
		{"DXT1 with the RGB flag", header("DXT1", 0x44, 24, 0, 0) + pixels, 1, GL_BGR, 0},
		{"RGB with alpha pixels", header("\0\0\0\0", 0x41, 32, 0, 0) + pixels, 1, GL_BGRA, 0},
		{"DXT3, count flag without the caps bit", header("DXT3", 4, 0, 0x20000, 0) + pixels, 1,
		 GL_COMPRESSED_RGBA_S3TC_DXT3_EXT, 0},
		{"DXT5 with its chain", header("DXT5", 4, 0, 0x20000, 0x400000) + pixels, 1,
		 GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, 1},
		{"16-bit RGB", header("\0\0\0\0", 0x40, 16, 0, 0) + pixels, 0, 0, 0},
		{"32-bit without the alpha flag", header("\0\0\0\0", 0x40, 32, 0, 0) + pixels, 0, 0, 0},
		{"other code", header("ATI2", 4, 0, 0, 0) + pixels, 0, 0, 0},
		{"no format", header("\0\0\0\0", 0, 0, 0, 0) + pixels, 0, 0, 0},
		{"chain longer than the file", header("DXT5", 4, 0, 0x20000, 0x400000) + pixels.substr(0, 32 + 16 + 15), 0, 0, 0},
		{"short header", header("DXT1", 4, 0, 0, 0).substr(0, 100), 0, 0, 0},
		{"not DDS", "XDS " + header("DXT1", 4, 0, 0, 0).substr(4) + pixels, 0, 0, 0},
	};
	for (const auto& c : cases) {
		zuz_test::write_file(dir / "h.dds", c.bytes);
		xmap_class m(dir / "h.dds");
		const unsigned char* data = nullptr;
		TEX_image_desc desc = {};
		ASSERT_EQ(TEX_load_dds("h.dds", &m, data, desc), c.result) << c.name;
		if (!c.result) continue;
		EXPECT_EQ(desc.format, c.format) << c.name;
		EXPECT_EQ(desc.mips, c.mips) << c.name;
		EXPECT_EQ(desc.width * 10 + desc.height, 84) << c.name;
	}
}

TEST(TexDds, SavedChainIsReadByImageMagick)
{
	zuz_test::TempDir dir;
	const auto img = noise(256 * 64 * 4);
	const TEX_image_desc desc = {GL_RGBA, 256, 64, 0, 0};
	const std::string f = dir / "s.dds";
	ASSERT_EQ(TEX_save_dds(f, img.data(), desc), 1);
	xmap_class m(f);
	const unsigned char* data = nullptr;
	TEX_image_desc got;
	ASSERT_EQ(TEX_load_dds(f, &m, data, got), 1);
	EXPECT_EQ(got.format, GL_COMPRESSED_RGBA_S3TC_DXT5_EXT);
	EXPECT_EQ(got.mips, 1);
	uint32_t mip_count;
	memcpy(&mip_count, m.base + 28, 4);
	EXPECT_EQ(mip_count, 9u);
	// Nine levels, the last 1 x 1: 64 x 16 blocks, then 32 x 8, ... 1 x 1 four times.
	EXPECT_EQ(m.end - m.base, 128 + 16 * (1024 + 256 + 64 + 16 + 4 + 2 + 1 + 1 + 1));
	std::vector<unsigned char> ours = decode(got, data);
	TEX_flip_y(desc, ours.data());
	expect_pixels("saved DXT5", magick_pixels(f, "rgba"), ours.data(), ours.size(), 1);
	EXPECT_EQ(TEX_save_dds(dir / "missing/s.dds", img.data(), desc), 0);
}

// Flipping the blocks, then decoding, equals decoding, then flipping the pixels.
TEST(TexDds, FlipOfBlocksMatchesFlipOfPixels)
{
	const struct {
		int w, h, mips, tolerance;
	} sizes[] = {
		{8, 8, 0, 0}, {8, 12, 0, 0}, {6, 2, 0, 0}, {5, 3, 0, 0}, {4, 1, 0, 0}, {16, 16, 1, 0}, {12, 4, 1, 0},
		{8, 6, 0, 8},  // a partly used block row: compressed again
	};
	for (int format : {GL_COMPRESSED_RGB_S3TC_DXT1_EXT, GL_COMPRESSED_RGBA_S3TC_DXT3_EXT,
	                   GL_COMPRESSED_RGBA_S3TC_DXT5_EXT})
		for (const auto& s : sizes) {
			const std::string name = std::to_string(format) + " " + std::to_string(s.w) + "x" + std::to_string(s.h);
			TEX_image_desc dxt = {format, s.w, s.h, 0, s.mips};
			std::vector<unsigned char> blocks((size_t)TEX_bytes_needed_for_image(dxt));
			std::vector<std::vector<unsigned char>> want;
			TEX_image_desc level = {format, s.w, s.h, 0, 0};
			for (size_t at = 0; at < blocks.size();) {
				auto rgba = noise((size_t)level.width * level.height * 4, level.width + level.height);
				// Compressed again, noise would lose too much to compare: a gradient.
				for (size_t i = 0; s.tolerance && i < rgba.size(); ++i) rgba[i] = (unsigned char)(i / 4 % 8 * 10 + i / 32 * 9 + i % 4 * 30);
				for (size_t i = 3; format == GL_COMPRESSED_RGB_S3TC_DXT1_EXT && i < rgba.size(); i += 4)
					rgba[i] = rgba[i] < 64 ? 0 : 255;
				TEX_encode_s3tc(level, level, rgba.data(), blocks.data() + at, TEX_s3tc_normal);
				want.push_back(decode(level, blocks.data() + at));
				TEX_image_desc pixels = {GL_RGBA, level.width, level.height, 0, 0};
				TEX_flip_y(pixels, want.back().data());
				at += (size_t)TEX_bytes_needed_for_image(level);
				level.width = std::max(level.width / 2, 1), level.height = std::max(level.height / 2, 1);
			}
			TEX_flip_y(dxt, blocks.data());
			level = {format, s.w, s.h, 0, 0};
			size_t at = 0;
			for (const auto& w : want) {
				expect_pixels(name + " level " + std::to_string(level.width), std::string(w.begin(), w.end()),
				              decode(level, blocks.data() + at).data(), w.size(), s.tolerance);
				at += (size_t)TEX_bytes_needed_for_image(level);
				level.width = std::max(level.width / 2, 1), level.height = std::max(level.height / 2, 1);
			}
		}
}

TEST(TexDds, BlockTransparencyAndGamma)
{
	// colour0, colour1 (little-endian 5-6-5), then one index byte per row.
	const struct {
		const char*   name;
		unsigned char block[8];
		int           alpha;
	} dxt1[] = {
		{"four colours, index 3", {0x00, 0xf8, 0x1f, 0x00, 0xff, 0xff, 0xff, 0xff}, 0},
		{"three colours, index 3", {0x1f, 0x00, 0x00, 0xf8, 0x00, 0x00, 0xc0, 0x00}, 1},
		{"three colours, no index 3", {0x1f, 0x00, 0x00, 0xf8, 0x00, 0x12, 0x26, 0xaa}, 0},
	};
	for (const auto& c : dxt1) {
		unsigned char b[8];
		memcpy(b, c.block, 8);
		EXPECT_EQ(nv_flip_blocks_dxtc1(b, 1, 0), c.alpha) << c.name;
		EXPECT_EQ(b[4], c.block[7]) << c.name;
		EXPECT_EQ(b[5], c.block[6]) << c.name;
	}

	// A table that merges neighbouring greens: a four-colour block whose two
	// colours become one keeps its mode by raising colour 0 one green step.
	const colr_class saved = colr;
	for (int i = 0; i < 256; ++i) colr.gamma_table[i] = (unsigned char)(i & ~15);
	colr.gamma_on = 1;
	unsigned char b[8] = {0x40, 0x00, 0x20, 0x00, 0x1b, 0x1b, 0x1b, 0x1b};  // green 2 over green 1
	nv_flip_blocks_dxtc1(b, 1, 0);
	colr = saved;
	EXPECT_EQ(b[0] | b[1] << 8, 1 << 5);
	EXPECT_EQ(b[2] | b[3] << 8, 0);
}
