// Draws the three images built into the program and writes them as PNG files:
//   hard_tex_gen <output folder> [font file]
// t_interface.png (512 x 512: the font of charsets 100 and 102, the widget
// pictures, the palette swatches), t_installer.png (1024 x 754: the installer
// window in rows of 1024) and t_ins_back_1.png (1024 x 768: the background).
// The PNGs are stored top row first, as any viewer shows them; the layout
// header counts rows from the bottom, as the textures do.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "hard_texes/hard_tex_layout.h"

namespace {

using hard_tex::rect;

struct rgba {
	unsigned char r, g, b, a;
};

struct canvas {
	int w, h;
	std::vector<unsigned char> px;  // rows bottom-up
	canvas(int in_w, int in_h) : w(in_w), h(in_h), px((size_t)in_w * in_h * 4, 0) {}

	unsigned char* at(int x, int y) { return &px[((size_t)y * w + x) * 4]; }
	void set(int x, int y, rgba c)
	{
		if (x < 0 || y < 0 || x >= w || y >= h) return;
		unsigned char* p = at(x, y);
		p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = c.a;
	}
	// Source-over with coverage 0..255.
	void blend(int x, int y, rgba c, int cover)
	{
		if (x < 0 || y < 0 || x >= w || y >= h || cover <= 0) return;
		unsigned char* p = at(x, y);
		const int a = c.a * cover / 255, inv = 255 - a;
		const int out_a = a + p[3] * inv / 255;
		if (out_a == 0) return;
		const unsigned char src[3] = {c.r, c.g, c.b};
		for (int i = 0; i < 3; ++i) p[i] = (unsigned char)((src[i] * a + p[i] * p[3] * inv / 255) / out_a);
		p[3] = (unsigned char)out_a;
	}
	void fill(const rect& r, rgba c)
	{
		for (int y = r.y; y < r.y + r.h; ++y)
			for (int x = r.x; x < r.x + r.w; ++x) set(x, y, c);
	}
};

rgba mix(rgba a, rgba b, double t)
{
	auto m = [t](int p, int q) { return (unsigned char)std::lround(p + (q - p) * t); };
	return {m(a.r, b.r), m(a.g, b.g), m(a.b, b.b), m(a.a, b.a)};
}

// Coverage (0..255) of a rounded rectangle at a pixel, by 4 x 4 samples.
int round_rect_cover(const rect& r, int radius, int x, int y)
{
	int inside = 0;
	for (int sy = 0; sy < 4; ++sy)
		for (int sx = 0; sx < 4; ++sx) {
			const double px = x + (sx + 0.5) / 4, py = y + (sy + 0.5) / 4;
			if (px < r.x || py < r.y || px > r.x + r.w || py > r.y + r.h) continue;
			const double cx = std::clamp(px, (double)r.x + radius, (double)r.x + r.w - radius);
			const double cy = std::clamp(py, (double)r.y + radius, (double)r.y + r.h - radius);
			if ((px - cx) * (px - cx) + (py - cy) * (py - cy) <= (double)radius * radius) ++inside;
		}
	return inside * 255 / 16;
}

// A rounded plate filled with a vertical gradient (bottom to top colour).
void plate(canvas& c, const rect& r, int radius, rgba bottom, rgba top)
{
	for (int y = r.y; y < r.y + r.h; ++y) {
		const rgba col = mix(bottom, top, r.h > 1 ? (double)(y - r.y) / (r.h - 1) : 0);
		for (int x = r.x; x < r.x + r.w; ++x) c.blend(x, y, col, round_rect_cover(r, radius, x, y));
	}
}

// A sunken field: dark edge above and left, light edge below and right.
void inset(canvas& c, const rect& r, rgba fill, rgba dark, rgba light)
{
	c.fill(r, fill);
	for (int x = r.x; x < r.x + r.w; ++x) c.set(x, r.y + r.h - 1, dark), c.set(x, r.y, light);
	for (int y = r.y; y < r.y + r.h; ++y) c.set(r.x, y, dark), c.set(r.x + r.w - 1, y, light);
}

struct font {
	FT_Library lib = nullptr;
	FT_Face    face = nullptr;
	explicit font(const char* path)
	{
		if (FT_Init_FreeType(&lib) || FT_New_Face(lib, path, 0, &face)) {
			fprintf(stderr, "hard_tex_gen: cannot open the font %s\n", path);
			exit(1);
		}
	}
	~font()
	{
		FT_Done_Face(face);
		FT_Done_FreeType(lib);
	}
	// Renders a character at `pixels` size, squeezed across by `squeeze` (1 = none).
	const FT_Bitmap& render(unsigned int code, int pixels, double squeeze, int* left, int* top)
	{
		FT_Set_Pixel_Sizes(face, 0, pixels);
		FT_Matrix m = {(FT_Fixed)std::lround(squeeze * 65536), 0, 0, 0x10000};
		FT_Set_Transform(face, &m, nullptr);
		if (FT_Load_Char(face, code, FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL)) {
			fprintf(stderr, "hard_tex_gen: no glyph for U+%04X\n", code);
			exit(1);
		}
		*left = face->glyph->bitmap_left;
		*top = face->glyph->bitmap_top;
		return face->glyph->bitmap;
	}
};

// Draws a bitmap with its top-left texel at (x, top) (top = the highest row), clipped to `clip`.
void draw_bitmap(canvas& c, const FT_Bitmap& bm, int x, int top, rgba ink, const rect& clip, bool replace)
{
	for (unsigned int i = 0; i < bm.rows; ++i)
		for (unsigned int j = 0; j < bm.width; ++j) {
			const int cover = bm.buffer[i * bm.pitch + j];
			const int px = x + (int)j, py = top - (int)i;
			if (px < clip.x || py < clip.y || px >= clip.x + clip.w || py >= clip.y + clip.h) continue;
			if (replace)
				c.set(px, py, {ink.r, ink.g, ink.b, (unsigned char)cover});
			else
				c.blend(px, py, ink, cover);
		}
}

// ---- the interface sheet

const int glyph_pixels = 11;  // DejaVu Sans at 11 px fills a 14 x 15 cell with its accents

void draw_font(canvas& c, font& f)
{
	using namespace hard_tex;
	// The font block is white throughout, so filtering at a glyph's edge stays white.
	c.fill({0, 0, cell_w * cell_cols, cell_h * cell_rows}, {255, 255, 255, 0});
	for (const glyph& g : glyphs) {
		if (g.byte == ' ') continue;
		// One column of the advance is the gap to the next letter.
		const int room = std::max(g.advance - 1, 1);
		double squeeze = 1;
		int left = 0, top = 0;
		const FT_Bitmap* bm = &f.render(g.unicode, glyph_pixels, squeeze, &left, &top);
		while ((int)bm->width > room && squeeze > 0.3) {
			squeeze *= 0.95;
			bm = &f.render(g.unicode, glyph_pixels, squeeze, &left, &top);
		}
		const bool at_left = g.byte == '.' || g.byte == ',';
		const int x0 = g.col * cell_w + (at_left ? 0 : (room - (int)bm->width) / 2);
		const int y0 = g.row * cell_h + glyph_baseline;
		const rect cell = {g.col * cell_w, g.row * cell_h, g.advance, cell_h};
		draw_bitmap(c, *bm, x0, y0 + top - 1, {255, 255, 255, 255}, cell, true);
	}
}

void draw_frame9(canvas& c)
{
	using namespace hard_tex;
	const rect& r = frame9;
	const rgba fill = {20, 26, 36, 255}, edge = {13, 15, 20, 255}, lit = {140, 158, 178, 255};
	for (int y = r.y; y < r.y + r.h; ++y)
		for (int x = r.x; x < r.x + r.w; ++x) {
			const bool cap_l = x < r.x + frame9_cap, cap_r = x >= r.x + r.w - frame9_cap;
			const bool top = y == r.y + r.h - 1, bottom = y == r.y;
			const bool side = x == r.x || x == r.x + r.w - 1;
			// Corners cut by one texel; the caps carry the sides, the middle only top and bottom.
			if ((top || bottom) && side) continue;
			rgba col = fill;
			if (top || (cap_l && side)) col = edge;
			if (bottom || (cap_r && side)) col = lit;
			if (y == r.y + r.h - 2 && !side) col = mix(fill, edge, 0.5);  // the shadow under the top edge
			c.set(x, y, col);
		}
}

void draw_swatches(canvas& c)
{
	for (const hard_tex::swatch& s : hard_tex::swatches) c.fill({s.x - 2, s.y - 2, 4, 4}, {s.r, s.g, s.b, 255});
}

// ---- the installer window and the background

void draw_text(canvas& c, font& f, const std::string& text, int x, int baseline, int pixels, rgba ink)
{
	const rect all = {0, 0, c.w, c.h};
	for (unsigned char ch : text) {
		int left = 0, top = 0;
		const FT_Bitmap& bm = f.render(ch, pixels, 1, &left, &top);
		draw_bitmap(c, bm, x + left, baseline + top - 1, ink, all, false);
		x += (int)(f.face->glyph->advance.x >> 6);
	}
}

void draw_installer(canvas& c, font& f)
{
	using namespace hard_tex;
	const rect window = {0, 0, installer_w, installer_pic_h};
	plate(c, window, 12, {40, 50, 66, 255}, {62, 74, 94, 255});
	// The title band, clipped to the window's rounded top.
	for (int y = installer_title.y; y < installer_title.y + installer_title.h; ++y) {
		const rgba col = mix({34, 66, 118, 255}, {58, 100, 160, 255}, (double)(y - installer_title.y) / installer_title.h);
		for (int x = 0; x < installer_w; ++x) {
			unsigned char* p = c.at(x, y);
			if (p[3]) c.set(x, y, {col.r, col.g, col.b, p[3]});
		}
	}
	for (int x = 0; x < installer_w; ++x) c.set(x, installer_title.y - 1, {140, 158, 178, 255});
	draw_text(c, f, "Nimbara 9 Installer", 24, installer_title.y + 15, 22, {255, 255, 255, 255});
	// An emblem at the right of the title: a ring and a swept wing.
	const int ex = installer_w - 40, ey = installer_title.y + installer_title.h / 2;
	for (int y = ey - 18; y <= ey + 18; ++y)
		for (int x = ex - 18; x <= ex + 18; ++x) {
			const double d = std::hypot(x + 0.5 - ex, y + 0.5 - ey);
			const int ring = (int)std::lround(std::clamp(2.0 - std::fabs(d - 15), 0.0, 1.0) * 255);
			c.blend(x, y, {255, 255, 255, 255}, ring);
			const double u = x + 0.5 - ex, v = y + 0.5 - ey;
			if (d < 13 && v < 0.35 * u + 2 && v > 0.35 * u - 3 - 0.25 * std::fabs(u)) c.blend(x, y, {242, 178, 51, 255}, 255);
		}
	inset(c, installer_panel, {28, 36, 48, 255}, {13, 15, 20, 255}, {110, 125, 145, 255});
	inset(c, installer_bar, {20, 26, 36, 255}, {13, 15, 20, 255}, {110, 125, 145, 255});
	plate(c, installer_button, 8, {40, 100, 190, 255}, {80, 150, 235, 255});
}

void draw_background(canvas& c)
{
	using namespace hard_tex;
	const rgba zenith = {16, 30, 62, 255}, horizon = {118, 148, 188, 255};
	const rgba ground_far = {58, 70, 60, 255}, ground_near = {24, 32, 28, 255};
	for (int x = 0; x < back_w; ++x) {
		// Two layers of hills: far ones lighter, near ones darker.
		const double far = 270 + 22 * std::sin(x * 0.0061 + 0.8) + 9 * std::sin(x * 0.0193 + 2.1);
		const double near = 200 + 30 * std::sin(x * 0.0042 + 4.0) + 7 * std::sin(x * 0.027 + 0.3);
		for (int y = 0; y < back_h; ++y) {
			rgba col = mix(horizon, zenith, std::pow(std::clamp((y - 250.0) / (back_h - 250.0), 0.0, 1.0), 0.8));
			// A soft glow low in the sky.
			const double glow = std::exp(-(std::pow((x - 700.0) / 260, 2) + std::pow((y - 300.0) / 120, 2)));
			col = mix(col, {255, 226, 170, 255}, 0.45 * glow);
			const double far_cover = std::clamp(far - y, 0.0, 1.0), near_cover = std::clamp(near - y, 0.0, 1.0);
			col = mix(col, mix(ground_far, ground_near, std::clamp((far - y) / 120, 0.0, 1.0) * 0.5), far_cover);
			col = mix(col, mix(ground_near, {12, 16, 14, 255}, std::clamp((near - y) / 200, 0.0, 1.0)), near_cover);
			c.set(x, y, col);
		}
	}
}

void write_png(const canvas& c, const std::string& path)
{
	FILE* fp = fopen(path.c_str(), "wb");
	png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
	png_infop info = png ? png_create_info_struct(png) : nullptr;
	if (!fp || !info || setjmp(png_jmpbuf(png))) {
		fprintf(stderr, "hard_tex_gen: cannot write %s\n", path.c_str());
		exit(1);
	}
	png_init_io(png, fp);
	png_set_IHDR(png, info, c.w, c.h, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
	             PNG_FILTER_TYPE_DEFAULT);
	png_set_compression_level(png, 9);
	png_write_info(png, info);
	for (int y = c.h - 1; y >= 0; --y) png_write_row(png, (png_const_bytep)&c.px[(size_t)y * c.w * 4]);
	png_write_end(png, info);
	png_destroy_write_struct(&png, &info);
	fclose(fp);
}

}  // namespace

int main(int argc, char** argv)
{
	if (argc < 2) {
		fprintf(stderr, "usage: hard_tex_gen <output folder> [font file]\n");
		return 2;
	}
	const std::string out = std::string(argv[1]) + "/";
	font f(argc > 2 ? argv[2] : "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");

	canvas sheet(hard_tex::sheet_size, hard_tex::sheet_size);
	draw_font(sheet, f);
	draw_frame9(sheet);
	draw_swatches(sheet);
	write_png(sheet, out + "t_interface.png");

	canvas installer(hard_tex::installer_row, hard_tex::installer_pic_h + 1);
	draw_installer(installer, f);
	write_png(installer, out + "t_installer.png");

	canvas back(hard_tex::back_w, hard_tex::back_h);
	draw_background(back);
	write_png(back, out + "t_ins_back_1.png");
	return 0;
}
