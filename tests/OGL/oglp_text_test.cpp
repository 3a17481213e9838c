// Bitmap-font text drawn by Mesa: on a sheet whose every texel names its cell
// and its place in the cell, and on the real interface sheet.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "GenC/hl_globals.h"
#include "OOPS_cpp/colr.h"
#include "OOPS_cpp/oglp.h"
#include "OOPS_cpp/tman.h"
#include "gl_test_context.h"
#include "hard_texes/hard_texes.h"

namespace {

// Texel (u, v): red = 12 x cell column, green = 50 x cell row, blue = 16 x
// column in the cell + row in the cell; opaque.
void load_coded_sheet()
{
	for (int v = 0; v < 512; ++v)
		for (int u = 0; u < 512; ++u) {
			unsigned char* p = scratch_array + 4 * (512 * v + u);
			p[0] = (unsigned char)(12 * (u / 14 % 21));
			p[1] = (unsigned char)(50 * (v / 15 % 5));
			p[2] = (unsigned char)(16 * (u % 14) + v % 15);
			p[3] = 255;
		}
	scratch_dx = scratch_dy = 512;
	tman.load_texture(tex_fail_fatal, 392, 0x502, tex_load_now, "scratch_array:coded sheet");
}

struct glyph_at {
	int x, y;          // lower-left pixel of the quad
	int column, row;   // the cell it must show
};

// The window as the glyphs, opaque on the coded sheet, paint it in their order;
// "" when Mesa drew exactly that.
std::string check_glyphs(const std::vector<unsigned char>& px, const std::vector<glyph_at>& glyphs)
{
	std::vector<unsigned char> want(px.size(), 0);
	for (const glyph_at& g : glyphs)
		for (int j = 0; j < 15; ++j)
			for (int i = 0; i < 14; ++i) {
				unsigned char* p = &want[3 * (1024 * (g.y + j) + g.x + i)];
				p[0] = (unsigned char)(12 * g.column), p[1] = (unsigned char)(50 * g.row), p[2] = (unsigned char)(16 * i + j);
			}
	for (size_t i = 0; i < px.size(); i += 3)
		if (memcmp(&px[i], &want[i], 3) != 0) {
			const int x = (int)(i / 3 % 1024), y = (int)(i / 3 / 1024);
			return "pixel " + std::to_string(x) + "," + std::to_string(y) + " shows " + std::to_string(px[i]) + "," +
			       std::to_string(px[i + 1]) + "," + std::to_string(px[i + 2]) + ", not " + std::to_string(want[i]) +
			       "," + std::to_string(want[i + 1]) + "," + std::to_string(want[i + 2]);
		}
	return "";
}

}  // namespace

TEST(Text, EachGlyphLandsInItsCellAtItsPen)
{
	main_window();
	load_coded_sheet();
	struct {
		const char* what;
		std::function<void()> draw;
		std::vector<glyph_at> want;
	} cases[] = {
		{"left", [] { str_one_line(0, 100, 200, "Hi!", 100, 0); }, {{100, 196, 4, 1}, {108, 196, 7, 1}, {111, 196, 0, 3}}},
		// Centred on the proportional width 11: from 94.5, truncated to 94.
		{"centred", [] { str_one_line(0, 100, 200, "Hi", 100, 1); }, {{94, 196, 4, 1}, {102, 196, 7, 1}}},
		{"right", [] { str_one_line(0, 100.7f, 200.9f, "Hi", 100, 2); }, {{89, 196, 4, 1}, {97, 196, 7, 1}}},
		// Fixed 10 px, yet centred on the proportional width.
		{"fixed, centred", [] { str_one_line(0, 100, 200, "Hi", 102, 1); }, {{94, 196, 4, 1}, {104, 196, 7, 1}}},
		{"charset 103", [] { str_one_line(0, 100, 200, "Hi", 103, 0); }, {{100, 196, 4, 1}, {115, 196, 7, 1}}},
		// Tab, line feed and return neither draw nor move; '"' draws the space and does not move.
		{"controls", [] { str_one_line(0, 100, 200, "A\t\r\nB\"C", 100, 0); },
		 {{100, 196, 11, 0}, {108, 196, 13, 0}, {115, 196, 0, 0}, {115, 196, 15, 0}}},
		{"high bytes", [] { str_one_line(0, 100, 200, "\xE9\xFB\xBE", 100, 0); },
		 {{100, 196, 11, 4}, {106, 196, 7, 4}, {109, 196, 0, 0}}},
		// The public call adds the window origin once, rounds, and sits 2 px lower.
		{"window origin", [] { mnw.org_x = 30.5f, mnw.org_y = 40; OGL_string(0, 100, 200, "Hi", 0, 100, 0); mnw.org_x = mnw.org_y = 0; },
		 {{131, 234, 4, 1}, {139, 234, 7, 1}}},
		{"wrapped", [] { EXPECT_EQ(OGL_string(0, 100, 300, "one two", 40, 100, 0), 280); },
		 {{100, 294, 19, 1}, {107, 294, 17, 1}, {114, 294, 20, 0}, {120, 294, 0, 0},
		  {100, 284, 8, 2}, {104, 284, 14, 2}, {113, 284, 19, 1}}},
		{"wrapped, centred", [] { OGL_string(0, 100, 300, "ab cd", 14, 100, 1); },
		 {{92, 294, 12, 0}, {98, 294, 14, 0}, {105, 294, 0, 0}, {94, 284, 16, 0}, {99, 284, 18, 0}}},
		// Digit cells 10 px apart from the rounded x: 001234.5 in 7 cells, 1 decimal.
		{"number column", [] { OGL_number(0, 300.4f, 400, 1234.5f, 7, 1, 102); },
		 {{300, 394, 1, 0}, {310, 394, 1, 0}, {320, 394, 2, 0}, {330, 394, 3, 0}, {340, 394, 4, 0},
		  {350, 394, 5, 0}, {360, 394, 6, 0}}},
		// Textured quads show the same cells, window origin added once.
		{"quad", [] { mnw.org_y = 4; OGL_2dquad_d(392, 0, 1, 100, 192, 14, 15, 56 / 512.f, 15 / 512.f, 14 / 512.f, 15 / 512.f, 5); mnw.org_y = 0; },
		 {{100, 196, 4, 1}}},
		{"free quad", [] { const float s = 14 / 512.f, t = 15 / 512.f;
		                   OGL_2dquad(392, 0, 1, 100, 196, 7 * s, t, 100, 211, 7 * s, 2 * t, 114, 211, 8 * s, 2 * t, 114, 196, 8 * s, t, 1, 5); },
		 {{100, 196, 7, 1}}},
		{"number text", [] { OGL_number(0, 300, 400, -42.25f, 4, 1, 100); },  // -042.3
		 {{300, 394, 10, 3}, {304, 394, 1, 0}, {310, 394, 5, 0}, {316, 394, 3, 0}, {322, 394, 1, 4}, {324, 394, 4, 0}}},
	};
	for (auto& c : cases) {
		glClear(GL_COLOR_BUFFER_BIT);
		c.draw();
		EXPECT_EQ(check_glyphs(read_pixels(0, 0, 1024, 768).rgb, c.want), "") << c.what;
	}
	recall_ins_texes();
}

TEST(Text, RealSheetAgainstACpuCopyOfItsCells)
{
	main_window();
	recall_ins_texes();
	// Draws glyph cells of the sheet over black, in order, with alpha blending.
	auto cpu = [](const std::string& text, int x, int y, int fixed) {
		std::vector<float> out(1024 * 768 * 3, 0.0f);
		for (char b : text) {
			int col, row;
			OGL_glyph_cell((signed char)b, &col, &row);
			for (int j = 0; j < 15; ++j)
				for (int i = 0; i < 14; ++i) {
					const unsigned char* t = t_interface_dat + 4 * (512 * (15 * row + j) + 14 * col + i);
					float* o = &out[3 * (1024 * (y - 4 + j) + x + i)];
					for (int ch = 0; ch < 3; ++ch) o[ch] = t[ch] / 255.0f * t[3] / 255.0f + o[ch] * (1 - t[3] / 255.0f);
				}
			x += fixed ? fixed : OGL_advance(b);
		}
		return out;
	};
	struct {
		const char* text;
		int charset, fixed;
	} cases[] = {{"Hi", 100, 0}, {"0123456789", 100, 0}, {"0123456789", 102, 10}};
	for (auto& c : cases) {
		glClear(GL_COLOR_BUFFER_BIT);
		str_one_line(0, 200, 300, c.text, c.charset, 0);
		const std::vector<unsigned char> px = read_pixels(0, 0, 1024, 768).rgb;
		const std::vector<float> want = cpu(c.text, 200, 300, c.fixed);
		int lit = 0, wrong = 0;
		for (size_t i = 0; i < px.size(); ++i) {
			lit += px[i] != 0;
			wrong += abs(px[i] - (int)(want[i] * 255 + 0.5f)) > 1;
		}
		EXPECT_GT(lit, 20) << c.text;
		EXPECT_EQ(wrong, 0) << c.text << " " << c.charset;
	}
}

TEST(Text, BoxedStringFramesTheFieldBetweenItsLabels)
{
	main_window();
	recall_ins_texes();
	colr.assign(43, 1, 1, 1);
	// "abc" is 18 px: the box 25 wide, its frame 26 wide centred on 300, 287..312.
	// The left label ends by 280 (8 px left of the box, rounded), the right starts at 321.
	OGL_boxed_string(300, 200, "Name:|MB", "abc", 100, 0);
	colr.assign(43, 0, 0, 0);
	const std::vector<unsigned char> px = read_pixels(0, 0, 1024, 768).rgb;
	std::vector<std::pair<int, int>> runs;  // of lit columns between x = 200 and 400
	for (int x = 200; x < 400; ++x) {
		bool lit = false;
		for (int y = 180; y < 225; ++y) lit |= (px[3 * (1024 * y + x)] | px[3 * (1024 * y + x) + 1]) != 0;
		if (lit && (runs.empty() || runs.back().second < x - 1)) runs.push_back({x, x});
		if (lit) runs.back().second = x;
	}
	std::string left, frame, right;
	for (auto& r : runs) {
		std::string& side = r.second < 280 ? left : r.first >= 321 ? right : frame;
		side += std::to_string(r.first) + ".." + std::to_string(r.second) + " ";
	}
	EXPECT_EQ(frame, "287..312 ");
	EXPECT_GT(runs.front().first, 240);  // "Name:" is 31 px wide
	EXPECT_LT(runs.back().second, 338);  // "MB" is 17 px wide
	EXPECT_TRUE(left.size() && right.size()) << left << "|" << right;
}

static void bad_charset()
{
	main_window();
	float s = 0, t = 0, w = 0, h = 0;
	OGL_strtex(101, 0, &s, &t, &w, &h);
}

TEST(TextDeathTest, BadCharsetEndsTheProgram)
{
	EXPECT_EXIT(bad_charset(), testing::ExitedWithCode(1),
	            "FATAL ERROR \\(oglp, line 494\\)\nString proc with bad charset!\n");
}
