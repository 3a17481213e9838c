#include <gtest/gtest.h>

#include "OOPS_cpp/colr.h"
#include "OOPS_cpp/xmap.h"
#include "TEX/TEX_bmp.h"
#include "UTL/nedmalloc.h"
#include "tex_tools.h"

using namespace tex_test;

static int load(const std::string& file, unsigned char*& data, unsigned long format, TEX_image_desc& desc,
                size_t data_bytes = 0)
{
	xmap_class m(file);
	return TEX_load_bmp(file, &m, data, format, 0, 0, desc, data_bytes);
}

// w x 3, 24-bit: rows of 3w bytes padded to a multiple of 4; pure magenta and two near misses.
static std::string make_bmp(const zuz_test::TempDir& dir, int w = 5)
{
	const std::string f = dir / "m.bmp", n = std::to_string(w);
	pil(f, "im=Image.new(\"RGB\",(" + n + ",3));"
	       "im.putdata([(255,0,255),(255,0,254),(31,20,10),(255,1,255)]+[(i*40%256,i*70%256,i*90%256) for i in range(" +
	       n + "*3-4)]);im.save(out)");
	return f;
}

TEST(TexBmp, DecodesLikeImageMagickWithMagentaKeyedOut)
{
	zuz_test::TempDir dir;
	// Widths 4 to 7: no padding, then 1, 2 and 3 bytes of it per row.
	for (int w = 4; w <= 7; ++w) {
		const std::string f = make_bmp(dir, w);
		const std::string rgba = magick_pixels(f, "rgba"), rgb = magick_pixels(f, "rgb");
		// With the gamma table on (here one that inverts), colours go through it; the
		// magenta key is tested before.
		std::string keyed = rgba, grey, inverted = rgb, inverted_keyed = rgba;
		for (size_t i = 0; i < rgba.size(); i += 4) {
			for (int c = 0; c < 3; ++c) {
				inverted[i / 4 * 3 + c] = (char)~rgba[i + c];
				inverted_keyed[i + c] = (char)~rgba[i + c];
			}
			if (rgba.compare(i, 3, "\xff\x00\xff", 3) == 0) {
				keyed.replace(i, 4, 4, '\0');
				inverted_keyed.replace(i, 4, 4, '\0');
			}
			grey += (char)(((unsigned char)rgba[i] + (unsigned char)rgba[i + 1] + (unsigned char)rgba[i + 2]) / 3);
		}
		const struct {
			unsigned long format;
			int           gamma_on;
			std::string   want;
		} cases[] = {{GL_RGBA, 0, keyed},   {GL_RGB, 0, rgb},           {GL_ALPHA, 0, grey},
		             {GL_RGB, 1, inverted}, {GL_RGBA, 1, inverted_keyed}, {GL_ALPHA, 1, grey}};
		const colr_class saved = colr;
		for (int i = 0; i < 256; ++i) colr.gamma_table[i] = (unsigned char)(255 - i);
		for (const auto& c : cases) {
			unsigned char* data = nullptr;
			TEX_image_desc desc;
			colr.gamma_on = c.gamma_on;
			ASSERT_EQ(load(f, data, c.format, desc), 1);
			EXPECT_EQ(desc.width * 10 + desc.height, w * 10 + 3);
			expect_pixels("width " + std::to_string(w) + ", format " + std::to_string(c.format) + ", gamma " +
			                  std::to_string(c.gamma_on),
			              c.want, data, c.want.size());
			nedfree(data);
		}
		colr = saved;
	}
}

TEST(TexBmp, MalformedFilesFailWithoutWriting)
{
	zuz_test::TempDir dir;
	const std::string good = zuz_test::read_file(make_bmp(dir));
	auto patch32 = [&](size_t at, uint32_t v) {
		std::string b = good;
		for (int i = 0; i < 4; ++i) b[at + i] = (char)(v >> (8 * i));
		return b;
	};
	const struct {
		const char* name;
		std::string bytes;
		size_t      data_bytes;
	} cases[] = {
		{"width 0", patch32(18, 0), 64},
		{"negative width", patch32(18, (uint32_t)-5), 64},
		{"top-down (negative height)", patch32(22, (uint32_t)-3), 64},
		{"rows past the end", good.substr(0, good.size() - 1), 64},
		{"data offset past the end", patch32(10, 1 << 20), 64},
		{"huge height", patch32(22, 0x7fffffff), 64},
		{"buffer too small", good, 59},
		{"BM and little else", "BMxxxxxx", 64},
	};
	for (const auto& c : cases) {
		zuz_test::write_file(dir / "bad.bmp", c.bytes);
		unsigned char buf[64];
		memset(buf, 0xaa, sizeof(buf));
		unsigned char* data = buf;
		TEX_image_desc desc;
		EXPECT_EQ(load(dir / "bad.bmp", data, GL_RGBA, desc, c.data_bytes), 0) << c.name;
		EXPECT_EQ(std::string((char*)buf, 64), std::string(64, '\xaa')) << c.name;
	}
}

TEST(TexBmpDeathTest, OnlyUncompressed24BitIsRead)
{
	zuz_test::TempDir dir;
	const std::string f = dir / "x.bmp";
	std::string b = zuz_test::read_file(make_bmp(dir));
	b[28] = 16;
	zuz_test::write_file(f, b);
	unsigned char* data = nullptr;
	TEX_image_desc desc;
	EXPECT_EXIT(load(f, data, GL_RGB, desc), testing::ExitedWithCode(1),
	            "TEX_bmp, line 48\\)\nWrong bitmap color depth for texture!\nWe need 24-bit color.\n.*x.bmp");
	b[28] = 24, b[30] = 1;
	zuz_test::write_file(f, b);
	EXPECT_EXIT(load(f, data, GL_RGB, desc), testing::ExitedWithCode(1), "TEX_bmp, line 49\\)\nBitmap is compressed!\n");
}
