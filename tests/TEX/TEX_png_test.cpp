#include <gtest/gtest.h>

#include "OOPS_cpp/xmap.h"
#include "TEX/TEX_png.h"
#include "TEX/TEX_utils.h"
#include "UTL/nedmalloc.h"
#include "tex_tools.h"

using namespace tex_test;

// Decodes `file` through a mapping; the block is ours to free.
static int load(const std::string& file, unsigned char*& data, unsigned long format, int row_width, int pow2,
                int follow, TEX_image_desc& desc, size_t data_bytes = 0)
{
	xmap_class m(file);
	return TEX_load_png(file, &m, data, format, row_width, pow2, follow, desc, data_bytes);
}

TEST(TexPng, DecodesEveryKindLikeImageMagick)
{
	zuz_test::TempDir dir;
	const struct {
		const char* name;
		std::string make;  // writes the file "f.png" in dir
	} cases[] = {
		{"palette with tRNS", "pil:im=Image.new(\"P\",(7,5));im.putpalette([i*37%256 for i in range(768)]);"
		                      "im.putdata([i%9 for i in range(35)]);im.save(out,transparency=3)"},
		{"2-bit grey", im + " -size 7x3 gradient: -colorspace gray -define png:color-type=0"
		                    " -define png:bit-depth=2" + im_png},
		{"4-bit grey", im + " -size 9x5 gradient: -colorspace gray -define png:color-type=0"
		                    " -define png:bit-depth=4" + im_png},
		{"16-bit grey", "pil:im=Image.new(\"I;16\",(6,4));im.putdata([(i*41%256)*257 for i in range(24)]);im.save(out)"},
		{"interlaced RGB", im + " -size 13x11 gradient:red-blue -swirl 90 -depth 8 -interlace PNG" + im_png},
		{"grey with alpha", "pil:im=Image.new(\"LA\",(5,6));"
		                    "im.putdata([(i*13%256,i*29%256) for i in range(30)]);im.save(out)"},
		{"RGB with tRNS", "pil:im=Image.new(\"RGB\",(4,3));im.putdata([(i%2*90+60,99,i*9+50) for i in range(12)]);"
		                  "im.save(out,transparency=(150,99,59))"},
		{"RGBA", "pil:im=Image.new(\"RGBA\",(9,4));"
		         "im.putdata([(i*7%256,i*11%256,i*17%256,i*23%256) for i in range(36)]);im.save(out)"},
	};
	for (const auto& c : cases) {
		const std::string f = dir / "f.png";
		if (c.make.rfind("pil:", 0) == 0) pil(f, c.make.substr(4));
		else sh(c.make + " " + f);
		for (unsigned long format : {GL_RGBA, GL_RGB, GL_ALPHA}) {
			unsigned char* data = nullptr;
			TEX_image_desc desc;
			ASSERT_EQ(load(f, data, format, 0, 0, 0, desc), 1) << c.name;
			EXPECT_EQ(desc.format, (int)format) << c.name;
			const int bpp = format == GL_RGBA ? 4 : format == GL_RGB ? 3 : 1;
			// Colours become grey in linear light with the Rec. 709 weights, between the
			// file gamma (1 / 1.8) and the screen gamma (1.8): libpng's 8-bit
			// tables and ImageMagick's round trip land up to two apart.
			const std::string want = magick_pixels(
				f + (bpp == 1 ? " -gamma 0.5555556 -grayscale Rec709Luma -gamma 1.8" : ""),
				bpp == 4 ? "rgba" : bpp == 3 ? "rgb" : "gray");
			expect_pixels(c.name + std::string(" as ") + std::to_string(bpp), want, data,
			              (size_t)desc.width * desc.height * bpp, bpp == 1 ? 2 : 0);
			nedfree(data);
		}
	}
}

TEST(TexPng, OnlyAGamaChunkStatesTheFileGamma)
{
	zuz_test::TempDir dir;
	const std::string plain = dir / "plain.png";
	sh(im + " -size 17x9 gradient:red-blue -swirl 90 -depth 8 -define png:color-type=2" + im_png + plain);
	const struct {
		const char* name;
		const char* chunks;  // put after the header: s an sRGB chunk, a number a gAMA chunk
		                     // (with ! its CRC wrong), - a gAMA of 8 bytes: 0.45455 and its CRC
		const char* gamma;   // ImageMagick's -gamma for the same result: gAMA x 1.8, screen_gamma
	} cases[] = {
		{"sRGB only", "s", "1"},
		{"gAMA 0.45455", "45455", "0.81819"},
		{"gAMA 1/1.8 before sRGB", "55556 s", "1"},
		{"sRGB before gAMA 1", "s 100000", "1.8"},
		{"gAMA out of range", "10", "1"},  // ignored, as libpng does
		{"gAMAs that libpng skips, then gAMA 1", "45455! - 100000", "1.8"},
	};
	for (const auto& c : cases) {
		const std::string f = dir / "f.png";
		pil(f, std::string("import struct,zlib\nb=open(\"") + plain + "\",\"rb\").read()\nx=b\"\"\n"
		       "for c in \"" + c.chunks + "\".split():\n"
		       " t,d=(b\"sRGB\",b\"\\0\") if c==\"s\" else "
		       "(b\"gAMA\",struct.pack(\">I\",int(c.strip(\"!-\") or 45455)))\n"
		       " if c==\"-\": d+=struct.pack(\">I\",zlib.crc32(t+d))\n"
		       " x+=struct.pack(\">I\",len(d))+t+d+struct.pack(\">I\",zlib.crc32(t+d)^(c[-1]==\"!\"))\n"
		       "open(out,\"wb\").write(b[:33]+x+b[33:])");
		unsigned char* data = nullptr;
		TEX_image_desc desc;
		ASSERT_EQ(load(f, data, GL_RGB, 0, 0, 0, desc), 1) << c.name;
		expect_pixels(c.name, magick_pixels(plain + " -gamma " + c.gamma, "rgb"), data, 17 * 9 * 3, 1);
		nedfree(data);
	}
}

TEST(TexPng, AlphaFollowsFilePaddingAndRefusals)
{
	zuz_test::TempDir dir;
	const std::string f = dir / "rgb.png";
	pil(f, "im=Image.new(\"RGB\",(3,2));im.putdata([(10,20,30),(40,50,60),(70,80,90),(1,2,3),(4,5,6),(7,8,9)]);"
	       "im.save(out)");
	const std::string top = "\x0a\x14\x1e\x28\x32\x3c\x46\x50\x5a", bottom = "\1\2\3\4\5\6\7\x8\x9";
	const struct {
		const char* name;
		int         row_width, pow2;
		size_t      data_bytes;
		int         result, pad;
		std::string block;  // what the 24-byte buffer (0xAA before) holds after
	} cases[] = {
		{"packed", 0, 0, 24, 1, 0, bottom + top + std::string(6, '\xaa')},
		{"power of two", 0, 1, 24, 1, 3, bottom + std::string(3, 0) + top + std::string(3, 0)},
		{"row width 4", 4, 0, 24, 1, 3, bottom + std::string(3, '\xaa') + top + std::string(3, '\xaa')},
		{"row narrower than image", 2, 0, 24, 0, 0, std::string(24, '\xaa')},
		{"buffer too small", 4, 0, 23, 0, 0, std::string(24, '\xaa')},
	};
	for (const auto& c : cases) {
		unsigned char buf[24];
		memset(buf, 0xaa, sizeof(buf));
		unsigned char* data = buf;
		TEX_image_desc desc = {};
		ASSERT_EQ(load(f, data, GL_RGBA, c.row_width, c.pow2, 1, desc, c.data_bytes), c.result) << c.name;
		EXPECT_EQ(std::string((char*)buf, 24), c.block) << c.name;
		if (c.result) {
			EXPECT_EQ(desc.format, GL_RGB) << c.name;
			EXPECT_EQ(desc.pad, c.pad) << c.name;
		}
	}

	// And a file with alpha asked for as GL_RGB comes as GL_RGBA.
	const std::string a = dir / "rgba.png";
	pil(a, "Image.new(\"RGBA\",(1,1),(1,2,3,4)).save(out)");
	unsigned char px[4] = {};
	unsigned char* data = px;
	TEX_image_desc desc = {};
	ASSERT_EQ(load(a, data, GL_RGB, 0, 0, 1, desc, 4), 1);
	EXPECT_EQ(desc.format, GL_RGBA);
	EXPECT_EQ(std::string((char*)px, 4), "\1\2\3\4");
}

TEST(TexPng, HeaderPromisingMoreThanTheFileHoldsIsRefused)
{
	zuz_test::TempDir dir;
	const std::string f = dir / "big.png";
	pil(f, "import struct,zlib\nImage.new(\"RGB\",(3,2)).save(out)\nb=bytearray(open(out,\"rb\").read())\n"
	       "b[16:24]=struct.pack(\">II\",60000,60000)\nb[29:33]=struct.pack(\">I\",zlib.crc32(bytes(b[12:29])))\n"
	       "open(out,\"wb\").write(b)");
	unsigned char* data = nullptr;
	TEX_image_desc desc;
	EXPECT_EQ(load(f, data, GL_RGBA, 0, 0, 0, desc), 0);
	EXPECT_EQ(data, nullptr);
}

TEST(TexPng, SavedFilesPassPngcheckAndReadBack)
{
	zuz_test::TempDir dir;
	const struct {
		int         format, bpp;
		const char* pngcheck;
		const char* map;
	} cases[] = {
		{GL_RGB, 3, "24-bit RGB", "rgb"},
		{GL_RGBA, 4, "32-bit RGB+alpha", "rgba"},
		{GL_ALPHA, 1, "8-bit grayscale", "gray"},
	};
	for (const auto& c : cases) {
		const TEX_image_desc desc = {c.format, 7, 5, 2, 0};
		const auto img = noise((7 * c.bpp + 2) * 5, c.bpp);
		const std::string f = dir / (std::string(c.map) + ".png");
		ASSERT_EQ(TEX_save_png(f, desc, img.data()), 1) << c.map;
		std::string report;
		EXPECT_EQ(zuz_test::run("pngcheck -v " + f, &report), 0) << report;
		EXPECT_NE(report.find(c.pngcheck), std::string::npos) << report;
		EXPECT_NE(report.find("chunk gAMA at offset 0x00025, length 4: 0.55556"), std::string::npos) << report;
		std::string packed;
		for (int r = 0; r < 5; ++r) packed.append((const char*)img.data() + r * (7 * c.bpp + 2), 7 * c.bpp);
		expect_pixels(c.map, packed, (const unsigned char*)magick_pixels(f, c.map).data(), packed.size());
	}
	EXPECT_EQ(TEX_save_png(dir / "missing/x.png", TEX_image_desc{GL_RGB, 1, 1, 0, 0}, (const unsigned char*)"abc"), 0);
}

TEST(TexPngDeathTest, TruncatedFileWarnsThenIsFatal)
{
	zuz_test::TempDir dir;
	const std::string f = dir / "t.png";
	sh(im + " -size 64x64 gradient:red-blue -depth 8" + im_png + f);
	std::string bytes = zuz_test::read_file(f);
	zuz_test::write_file(f, bytes.substr(0, bytes.size() / 2));
	EXPECT_EXIT(
		{
			unsigned char* data = nullptr;
			TEX_image_desc desc;
			load(f, data, GL_RGBA, 0, 0, 0, desc);
		},
		testing::ExitedWithCode(1),
		"PNG error!\nPNG Read Error, overran end of buffer!\n.*t.png\n"
		"FATAL ERROR \\(ZUzuvir/TEX/TEX_png, line 63\\)\nPING-FILE ERROR!\nsetjmp\\(png_ptr->jmpbuf\n");
}
