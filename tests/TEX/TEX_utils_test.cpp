#include <gtest/gtest.h>

#include "TEX/TEX_utils.h"
#include "UTL/nedmalloc.h"
#include "tex_tools.h"

using namespace tex_test;

TEST(TexUtils, BytesNeeded)
{
	const struct {
		TEX_image_desc desc;
		long long      bytes;
	} cases[] = {
		{{GL_RGBA, 256, 256, 0, 1}, 349524},
		{{GL_RGB, 4, 1, 1, 1}, 24},
		{{GL_COMPRESSED_RGB_S3TC_DXT1_EXT, 2, 2, 0, 0}, 8},
		{{GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, 8, 2, 0, 1}, 32 + 16 + 16 + 16},
		{{GL_BGR, 5, 3, 2, 0}, 51},
		{{GL_ALPHA, 3, 3, 1, 0}, 12},
		{{GL_DEPTH_COMPONENT, 2, 2, 5, 0}, 16},
		{{GL_LUMINANCE, 4, 4, 0, 0}, 0},
		{{GL_COMPRESSED_RGB_S3TC_DXT1_EXT, 40000, 4, 0, 0}, 80000},  // past what squish counts
		{{GL_RGBA, 65536, 65536, 0, 0}, 1LL << 34},
		{{GL_BGRA, 0x7fffffff, 0x7fffffff, 0x7fffffff, 1}, 1LL << 60},  // stops growing, never wraps
	};
	for (const auto& c : cases) EXPECT_EQ(TEX_bytes_needed_for_image(c.desc), c.bytes) << c.desc.format;
}

TEST(TexUtils, PrepareBlockPadsAndZeroes)
{
	const struct {
		int  w, h, bpp, row_width, pow2;
		int  pad, rows;
		bool zeroed;
	} cases[] = {
		{4, 3, 4, 0, 1, 0, 4, true},    // extra rows only
		{3, 2, 3, 8, 1, 3, 2, true},    // the power of two wins over the row width
		{4, 4, 1, 0, 1, 0, 4, false},   // nothing to pad
		{3, 2, 3, 8, 0, 15, 2, false},  // a row width alone
	};
	for (const auto& c : cases) {
		unsigned char buf[64];
		memset(buf, 0xaa, sizeof(buf));
		unsigned char* data = buf;
		TEX_image_desc desc = {GL_RGB, c.w, c.h, 0, 0};
		int rows = 0;
		size_t row_bytes = 0;
		ASSERT_EQ(TEX_prepare_block(desc, c.bpp, c.row_width, c.pow2, data, sizeof(buf), &rows, &row_bytes), 1);
		EXPECT_EQ(desc.pad, c.pad) << c.w << "x" << c.h;
		EXPECT_EQ(rows, c.rows) << c.w << "x" << c.h;
		EXPECT_EQ(row_bytes, (size_t)(c.w * c.bpp + c.pad)) << c.w << "x" << c.h;
		EXPECT_EQ(std::string((char*)buf, rows * row_bytes), std::string(rows * row_bytes, c.zeroed ? 0 : '\xaa'))
			<< c.w << "x" << c.h;
	}
}

TEST(TexUtils, ChromaKeyClearsAlphaStrictlyBelowTheThreshold)
{
	// 2 x 2 RGBA with a pad byte per row; key (100, 100, 100), threshold 10.
	std::vector<int> img = {100, 100, 100, 200, 103, 103, 104, 200, 0xee, 103, 103, 103, 200, 0, 0, 0, 7, 0xee};
	std::vector<unsigned char> data(img.begin(), img.end());
	const unsigned char key[3] = {100, 100, 100};
	TEX_chroma_key(TEX_image_desc{GL_RGBA, 2, 2, 1, 0}, data.data(), key, 10);
	img[3] = img[12] = 0;
	EXPECT_EQ(std::vector<int>(data.begin(), data.end()), img);
}

TEST(TexUtils, CompositeBlendsBilinearlyIntoTheRectangle)
{
	// A 2 x 2 source stretched over 4 x 4 of a 4 x 2 image with a pad byte, and a
	// row past the image that stays: whole pixels, halves, quarters, and samples
	// that lie outside the source.
	const unsigned char rgb[] = {200, 0, 0, 0, 100, 0, 0, 0, 40, 40, 40, 40};
	const unsigned char rgba[] = {200, 0, 0, 255, 0, 100, 0, 255, 0, 0, 40, 255, 40, 40, 40, 255};
	std::vector<int> want = {
		200, 0, 0, 255, 100, 50, 0, 255, 0, 100, 0, 255, 5, 55, 5, 147, 0xee,
		100, 0, 20, 255, 60, 35, 20, 255, 20, 70, 20, 255, 15, 40, 15, 147, 0xee,
	};
	want.resize(want.size() + 17, 0xee);
	for (int format : {GL_RGBA, GL_RGB}) {
		std::vector<unsigned char> dst;
		for (int r = 0; r < 2; ++r) {
			for (int c = 0; c < 4; ++c) dst.insert(dst.end(), {10, 10, 10, 20});
			dst.push_back(0xee);
		}
		dst.resize(dst.size() + 17, 0xee);
		TEX_composite(TEX_image_desc{format, 2, 2, 0, 0}, TEX_image_desc{GL_RGBA, 4, 2, 1, 0},
		              format == GL_RGBA ? rgba : rgb, dst.data(), 0, 0, 4, 4);
		EXPECT_EQ(std::vector<int>(dst.begin(), dst.end()), want) << format;
	}
}

TEST(TexUtils, DownscaleMatchesImageMagickBoxFilter)
{
	zuz_test::TempDir dir;
	const struct {
		int format, bpp, xf, yf;
		const char* map;  // four channels as CMYK: ImageMagick weights colours by alpha
	} cases[] = {
		{GL_RGBA, 4, 2, 2, "cmyk"}, {GL_RGB, 3, 4, 2, "rgb"}, {GL_ALPHA, 1, 1, 4, "gray"}, {GL_RGBA, 4, 8, 8, "cmyk"},
	};
	for (const auto& c : cases) {
		const int w = 32, h = 16, pad = 3;
		auto img = noise((size_t)(w * c.bpp + pad) * h, c.xf * 10 + c.yf);
		std::string packed;
		for (int r = 0; r < h; ++r) packed.append((const char*)img.data() + r * (w * c.bpp + pad), w * c.bpp);
		zuz_test::write_file(dir / "in.raw", packed);
		std::string want;
		const std::string size = std::to_string(w / c.xf) + "x" + std::to_string(h / c.yf);
		ASSERT_EQ(zuz_test::run(im + " -size 32x16 -depth 8 " + c.map + ":" + (dir / "in.raw") +
		                            " -filter box -resize " + size + "! " + c.map + ":-", &want), 0);
		TEX_image_desc desc = {c.format, w, h, pad, 0};
		TEX_downscale(desc, img.data(), c.xf, c.yf);
		ASSERT_EQ(desc.width * 1000 + desc.height, (w / c.xf) * 1000 + h / c.yf);
		std::string got;
		for (int r = 0; r < desc.height; ++r)
			got.append((const char*)img.data() + r * (desc.width * c.bpp + pad), desc.width * c.bpp);
		// ImageMagick rounds the mean, we truncate it.
		expect_pixels(size, want, (const unsigned char*)got.data(), got.size(), 1);
	}

	// Factors that are not powers of two divide by the next power: 3 pixels by 4.
	unsigned char row[5] = {40, 40, 40, 7, 7};
	TEX_image_desc desc = {GL_ALPHA, 5, 1, 0, 0};
	TEX_downscale(desc, row, 3, 1);
	EXPECT_EQ(desc.width, 1);
	EXPECT_EQ(row[0], 30);
}

TEST(TexUtils, FlipKeepsTheMiddleRowAndThePad)
{
	std::string img = "abcXYdefXYghiXY";
	TEX_flip_y(TEX_image_desc{GL_RGB, 1, 3, 2, 0}, (unsigned char*)img.data());
	EXPECT_EQ(img, "ghiXYdefXYabcXY");
}

TEST(TexUtils, LoadByContentAndByName)
{
	zuz_test::TempDir dir;
	pil(dir / "a.png", "Image.new(\"RGB\",(2,2),(1,2,3)).save(out)");
	pil(dir / "a.bmp", "Image.new(\"RGB\",(2,2),(4,5,6)).save(out)");
	pil(dir / "b.bmp", "Image.new(\"RGB\",(2,2),(7,8,9)).save(out)");
	zuz_test::write_file(dir / "c.png", "BM" + zuz_test::read_file(dir / "a.png"));
	const struct {
		const char* path;
		int         ext, red;  // the first pixel's red; 0: not loaded
	} cases[] = {{"a.bmp", 1, 1}, {"a", 1, 1}, {"b.png", 1, 7}, {"b", 1, 7}, {"a.bmp", 0, 4}, {"c.png", 0, 0}, {"x", 1, 0}};
	for (const auto& c : cases) {
		unsigned char* data = nullptr;
		TEX_image_desc desc;
		const int r = c.ext ? TEX_load_any_ext(dir / c.path, data, GL_RGBA, 0, 1, desc)
		                    : TEX_load_any(dir / c.path, data, GL_RGBA, 0, 1, desc);
		EXPECT_EQ(r ? data[0] : 0, c.red) << c.path;
		if (data) nedfree(data);
	}
}
