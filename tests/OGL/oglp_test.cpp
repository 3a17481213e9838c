// The viewport, the primitives, the background and the screenshot, drawn by
// Mesa and read back pixel by pixel.
#include <GL/gl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "GenC/hl_globals.h"
#include "OGL/OGL_setstate.h"
#include "OOPS_cpp/colr.h"
#include "OOPS_cpp/oglp.h"
#include "OOPS_cpp/tman.h"
#include "../TEX/tex_tools.h"
#include "gl_test_context.h"
#include "zuz_test.h"

namespace {

using namespace tex_test;

// The pixels of the w x h corner that are lit and should not be (+) or the reverse (-).
std::string wrong_pixels(int w, int h, const std::function<bool(int, int)>& covers)
{
	const pixels p = read_pixels(0, 0, w, h);
	std::string bad;
	for (int y = 0; y < h; ++y)
		for (int x = 0; x < w; ++x)
			if (p.lit(x, y) != covers(x, y) && bad.size() < 200)
				bad += std::to_string(x) + "," + std::to_string(y) + (p.lit(x, y) ? "+ " : "- ");
	return bad;
}

}  // namespace

TEST(Viewport, PixelLayoutOfWindowSizes)
{
	gl_test_context();
	struct {
		int dx, dy, wind;
		float mar_x, mar_y, cen_x;
	} cases[] = {
		{1024, 768, 0, 0, 0, 512}, {1280, 1024, 0, 128, 256, 640}, {800, 600, 0, 0, 0, 400}, {1280, 1024, -1, 0, 256, 640},
	};
	for (auto& c : cases) {
		mnw.pix_dx = c.dx, mnw.pix_dy = c.dy, mnw.cur_wind = c.wind;
		glViewport(0, 0, 1, 1);
		OGL_pix_specs(0);
		SCOPED_TRACE(testing::Message() << c.dx << "x" << c.dy << " window " << c.wind);
		EXPECT_EQ(mnw.mar_x, c.mar_x);
		EXPECT_EQ(mnw.mar_y, c.mar_y);
		EXPECT_EQ(mnw.cen_x, c.cen_x);
		EXPECT_EQ(mnw.ortho_r + mnw.ortho_t, c.dx + c.dy);
		GLint vp[4];
		glGetIntegerv(GL_VIEWPORT, vp);
		EXPECT_EQ(vp[2], c.wind < 0 ? 1 : c.dx);  // no projection before a window is selected
	}

	// One unit is one pixel from the bottom-left corner.
	main_window();
	OGL_fillrect(0, 1, 0, 0, 1, 1);
	OGL_fillrect(0, 1, 1023, 767, 1, 1);
	EXPECT_EQ(wrong_pixels(1024, 768, [](int x, int y) { return x + y == 0 || (x == 1023 && y == 767); }), "");

	// keep_aspect moves only the vertical bounds: a 200 x 100 viewport of -1..1 both ways.
	double proj[16];
	OGL_viewport(3, -1, 0, -1, 0, 1, 200, 1, 1, 100, 10, 1, 1);
	glGetDoublev(GL_PROJECTION_MATRIX, proj);
	EXPECT_NEAR(proj[0], 1, 1e-6);  // 2n / (r - l) with the bounds scaled by n = 1
	EXPECT_NEAR(proj[5], 2, 1e-6);  // -0.5..0.5

	// A zero-width scissor box hides everything until the clipping ends.
	main_window();
	OGL_scissors(10, 10, 0, 5);
	OGL_fillrect(0, 1, 0, 0, 100, 100);
	OGL_scissors_end();
	EXPECT_EQ(wrong_pixels(100, 100, [](int, int) { return false; }), "");
}

TEST(Primitives, ShapesReadBackPixelByPixel)
{
	main_window();
	struct {
		const char* what;
		float org_x, org_y;
		std::function<void()> draw;
		std::function<bool(int, int)> covers;
	} cases[] = {
		{"line", 0, 0, [] { OGL_line(0, 1, 0, 0, 10, 0); }, [](int x, int y) { return y == 0 && x <= 9; }},
		{"vertical line", 0, 0, [] { OGL_line(0, 1, 5, 3, 5, 20); }, [](int x, int y) { return x == 5 && y >= 3 && y < 20; }},
		{"rectangle", 0, 0, [] { OGL_fillrect(0, 1, 10, 20, 30, 40); },
		 [](int x, int y) { return x >= 10 && x < 40 && y >= 20 && y < 60; }},
		{"negative sizes", 0, 0, [] { OGL_fillrect(0, 1, 50, 60, -30, -40); },
		 [](int x, int y) { return x >= 20 && x < 50 && y >= 20 && y < 60; }},
		{"window origin", 100, 50, [] { OGL_fillrect(0, 1, 10, 20, 30, 40); },
		 [](int x, int y) { return x >= 110 && x < 140 && y >= 70 && y < 110; }},
		{"frame", 0, 0, [] { OGL_framerect(0, 1, 10, 20, 30, 40); },
		 [](int x, int y) {
			 return ((x == 10 || x == 40) && y >= 20 && y <= 60) || ((y == 20 || y == 60) && x >= 10 && x <= 40);
		 }},
		{"frame with origin", 7, 9, [] { OGL_framerect(0, 1, 10, 20, -5, -6); },
		 [](int x, int y) {
			 return ((x == 12 || x == 17) && y >= 23 && y <= 29) || ((y == 23 || y == 29) && x >= 12 && x <= 17);
		 }},
		{"gray box", 3, 4, [] { OGL_grayrect(10, 10, 20, 30, 1); },
		 [](int x, int y) { return x >= 13 && x < 23 && y >= 14 && y < 34; }},
	};
	colr.assign(12, 0.5f, 0.5f, 0.5f);
	for (auto& c : cases) {
		main_window();
		mnw.org_x = c.org_x, mnw.org_y = c.org_y;
		c.draw();
		mnw.org_x = mnw.org_y = 0;
		EXPECT_EQ(wrong_pixels(300, 300, c.covers), "") << c.what;
	}
	colr.assign(12, 0, 0, 0);
}

TEST(Primitives, CirclesAndArcsWithinTolerance)
{
	// Around (150.5, 150.5): every lit pixel lies within radii lo..hi and angles
	// (clockwise from +y) up to a_hi; of the pixels in the band in_lo..in_hi, well
	// inside the angles, at least `share` are lit.
	struct {
		const char* what;
		std::function<void()> draw;
		float lo, hi, a_hi, in_lo, in_hi, share;
	} cases[] = {
		{"disc", [] { OGL_fillcircle(0, 150, 150, 40); }, 0, 41, 360, 0, 39.5f, 1},
		{"circle", [] { OGL_framecircle(0, 150, 150, 40); }, 38.5f, 41.5f, 360, 39.5f, 40.5f, 0.3f},
		{"arc", [] { OGL_arc(0, 150, 150, 20, 30, 0, 90); }, 18.5f, 31.5f, 93, 20, 30, 0.9f},
		{"arc, angles reversed", [] { OGL_arc(0, 150, 150, 20, 30, 90, 0); }, 0, 0, 0, 1, 0, 0},
		{"arc, radii reversed", [] { OGL_arc(0, 150, 150, 30, 20, 0, 90); }, 0, 0, 0, 1, 0, 0},
		{"negative radius", [] { OGL_fillcircle(0, 150, 150, -1); }, 0, 0, 0, 1, 0, 0},
	};
	for (auto& c : cases) {
		main_window();
		c.draw();
		const pixels p = read_pixels(0, 0, 300, 300);
		int band = 0, lit = 0;
		for (int y = 0; y < 300; ++y)
			for (int x = 0; x < 300; ++x) {
				const float dx = x - 150.0f, dy = y - 150.0f, d = hypotf(dx, dy);
				float a = atan2f(dx, dy) * 180 / (float)M_PI;
				if (a < -3) a += 360;
				ASSERT_TRUE(!p.lit(x, y) || (d >= c.lo && d <= c.hi && a <= c.a_hi)) << c.what << " at " << x << "," << y;
				if (d >= c.in_lo && d <= c.in_hi && a >= 2 && a <= c.a_hi - 5) ++band, lit += p.lit(x, y);
			}
		EXPECT_GE(lit, c.share * band) << c.what;
	}
}

TEST(Primitives, ColourRule)
{
	struct {
		const char* what;
		int entry;
		float rgb[3], alpha, global_alpha, tint[3];
		int green;
		int want[3];
	} cases[] = {
		{"opaque", 46, {1, 0.5f, 0.25f}, 1, 1, {1, 1, 1}, 0, {255, 128, 64}},
		{"alpha 0.995 is opaque", 46, {1, 1, 1}, 0.995f, 1, {1, 1, 1}, 0, {255, 255, 255}},
		{"alpha 0.98 blends", 46, {1, 1, 1}, 0.98f, 1, {1, 1, 1}, 0, {250, 250, 250}},
		{"0.99f is above 0.99 in double", 46, {1, 1, 1}, 0.99f, 1, {1, 1, 1}, 0, {255, 255, 255}},
		{"global alpha", 46, {1, 1, 1}, 1, 0.5f, {1, 1, 1}, 0, {128, 128, 128}},
		{"45 is tinted", 45, {1, 1, 1}, 1, 1, {0.5f, 1, 0.25f}, 0, {128, 255, 64}},
		{"46 is not", 46, {1, 1, 1}, 1, 1, {0.5f, 1, 0.25f}, 0, {255, 255, 255}},
		{"green mode: blue", 46, {0, 0, 1}, 1, 1, {1, 1, 1}, 1, {0, 255, 0}},
		{"green mode: black", 46, {0, 0, 0}, 1, 1, {1, 1, 1}, 1, {0, 3, 0}},
		{"green mode: sum capped", 46, {0.5f, 0.5f, 0.5f}, 1, 1, {1, 1, 1}, 1, {0, 255, 0}},
	};
	const colr_class saved = colr;
	for (auto& c : cases) {
		main_window();
		colr.assign(c.entry, c.rgb[0], c.rgb[1], c.rgb[2]);
		for (int i = 0; i < 3; ++i) colr.tint[i] = c.tint[i];
		ren.global_alpha = c.global_alpha;
		ren.green_mode = c.green;
		OGL_fillrect(c.entry, c.alpha, 0, 0, 4, 4);
		ren.global_alpha = 1;
		ren.green_mode = 0;
		colr = saved;
		const pixels p = read_pixels(1, 1, 1, 1);
		for (int i = 0; i < 3; ++i) EXPECT_NEAR(p.at(1, 1)[i], c.want[i], 1) << c.what << " channel " << i;
	}
}

TEST(Primitives, SpectrumColours)
{
	gl_test_context();
	struct {
		float t, rgb[3];
	} cases[] = {{0.25f, {1, 0.16f, 0.04f}}, {0, {0, 0, 0}}, {-1, {0, 0, 0}}, {1, {0.8f, 0, 0.8f}},
	             {2, {0.8f, 0, 0.8f}},       {1.0f / 6, {1, 0, 0}}, {0.99f, {0.752f, 0, 0.812f}}};
	for (auto& c : cases) {
		OGL_spectrum_rgb(c.t);
		float got[4];
		glGetFloatv(GL_CURRENT_COLOR, got);
		for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], c.rgb[i], 1e-5) << c.t;
	}
}

namespace {

// Makes the background from a w x h image of random opaque pixels (ImageMagick)
// in a fresh folder; gives back the image's pixels bottom-up as RGBA.
std::string make_background(const zuz_test::TempDir& dir, int w, int h)
{
	const std::string png = dir / "Resources/bitmaps/intro_ZOV.png";
	sh("mkdir -p " + dir / "Resources/bitmaps");
	sh(im + " -seed 7 -size " + std::to_string(w) + "x" + std::to_string(h) + " xc:gray +noise Random" + im_png +
	   "PNG24:" + png);
	zuz_test::InFolder here(dir.path());  // the program works in the folder it starts in
	mnw.cur_wind = -1;
	OGL_make_back_tex();
	return magick_pixels(png);
}

}  // namespace

TEST(Background, TilesAndDrawingMatchACropOfTheImage)
{
	struct {
		int w, h;
		int wind;            // -1: before the first window, drawn anchored top-right
		int img_x, img_y;    // image pixel at window pixel (0, 0)
	} cases[] = {{1000, 600, 0, 0, 0}, {2048, 2048, -1, 1024, 768}};
	for (auto& c : cases) {
		SCOPED_TRACE(testing::Message() << c.w << " x " << c.h);
		main_window();
		zuz_test::TempDir dir;
		const std::string img = make_background(dir, c.w, c.h);
		ASSERT_EQ(img.size(), (size_t)c.w * c.h * 4);
		ASSERT_EQ(back_dx * back_dy, c.w * c.h);

		// Every tile against the image crop, zero past its edge.
		std::vector<unsigned char> tile(512 * 512 * 4);
		for (int k = 0; k < 16; ++k) {
			tman.bind_ref(427 + k, 0, 0);
			glPixelStorei(GL_PACK_ALIGNMENT, 1);
			glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, tile.data());
			const int r = k / 4, col = k % 4;
			std::vector<unsigned char> want(512 * 512 * 4, 0);
			for (int y = 0; y < 512 && 512 * r + y < c.h; ++y) {
				const int cols = std::max(0, std::min(512, c.w - 512 * col));
				memcpy(&want[4 * 512 * y], &img[4 * ((size_t)c.w * (512 * r + y) + 512 * col)], 4 * (size_t)cols);
			}
			ASSERT_TRUE(tile == want) << "tile " << k;
		}

		mnw.cur_wind = c.wind;
		OGL_plot_back_tex();
		const pixels p = read_pixels(0, 0, 1024, 768);
		int wrong = 0;
		for (int y = 0; y < 768 && y + c.img_y < c.h; ++y)
			for (int x = 0; x < 1024 && x + c.img_x < c.w; ++x)
				wrong += memcmp(p.at(x, y), &img[4 * ((size_t)c.w * (y + c.img_y) + x + c.img_x)], 3) != 0;
		EXPECT_EQ(wrong, 0);
		mnw.cur_wind = 0;
	}
}

TEST(BackgroundDeathTest, AnImageWiderThan2048IsRefusedBeforeCopying)
{
	EXPECT_EXIT(
		{
			main_window();
			zuz_test::TempDir dir;
			make_background(dir, 2049, 8);
		},
		testing::ExitedWithCode(1),
		"FATAL ERROR \\(oglp, line 991\\)\nTrying to load a texture that you do not have!\nThis smacks of a "
		"mis-installed copy of Nimbara!\nGet a new download from .*\\. The missing file is:\n"
		"Resources/bitmaps/intro_ZOV.png\n");
}

TEST(Screenshot, KnownPatternIn1023x767ThroughImageMagick)
{
	main_window();
	const int w = 1023, h = 767;
	std::vector<unsigned char> pattern((size_t)w * h * 3);
	for (int y = 0; y < h; ++y)
		for (int x = 0; x < w; ++x) {
			unsigned char* p = &pattern[3 * ((size_t)w * y + x)];
			p[0] = (unsigned char)x, p[1] = (unsigned char)y, p[2] = (unsigned char)(x * 7 + y * 3);
		}
	glMatrixMode(GL_PROJECTION);
	glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
	glRasterPos2i(0, 0);
	OGL_setstate(1, 0, 3, 4, 9, 11);
	glDrawPixels(w, h, GL_RGB, GL_UNSIGNED_BYTE, pattern.data());
	glMatrixMode(GL_MODELVIEW);

	zuz_test::TempDir dir;
	{
		zuz_test::InFolder here(dir.path());
		mnw.pix_dx = w, mnw.pix_dy = h;
		glPixelStorei(GL_PACK_ALIGNMENT, 4);  // GL's default, as the program leaves it
		zuz_test::write_file("screenshot_1.png", "taken");
		zuz_test::write_file("screenshot_3.png", "taken");
		OGL_screenshot(1);  // 0
		OGL_screenshot(0);  // reads, writes nothing
		OGL_screenshot(1);  // 2: 1 is taken
		OGL_screenshot(1);  // 4
		mnw.pix_dx = 1024, mnw.pix_dy = 768;
	}

	EXPECT_EQ(zuz_test::read_file(dir / "screenshot_1.png"), "taken");
	for (const char* name : {"screenshot_0.png", "screenshot_2.png", "screenshot_4.png"})
		EXPECT_TRUE(magick_pixels(dir / name, "rgb") == std::string(pattern.begin(), pattern.end())) << name;
	EXPECT_NE(zuz_test::run("test -e " + dir / "screenshot_5.png"), 0);
}
