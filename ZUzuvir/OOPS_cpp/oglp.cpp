#include "OOPS_cpp/oglp.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Files/io_utils.h"
#include "GenC/MACIBM_alert.h"
#include "GenC/hl_globals.h"
#include "GenH/hl_string.h"
#include "GenH/hl_types.h"
#include "OGL/OGL_setstate.h"
#include "OOPS_cpp/BTN_util.h"
#include "OOPS_cpp/colr.h"
#include "OOPS_cpp/tman.h"
#include "OOPS_cpp/xcam.h"
#include "OOPS_cpp/xtim.h"
#include "Platform/plat_gl.h"
#include "TEX/TEX_png.h"
#include "TEX/TEX_utils.h"
#include "UTL/nedmalloc.h"

// The source name the alerts give.
static const char* const kFile = "oglp";
enum { line_bad_charset = 494, line_no_background = 991 };

int   back_dx = 0, back_dy = 0;
float oglp = 1.0f;
const float st00[2] = {0, 0}, st01[2] = {0, 1}, st10[2] = {1, 0}, st11[2] = {1, 1};

// ---- Viewport and pixel layout ----

void OGL_pix_specs(int)
{
	mnw.pix_scale = 1.0f;
	mnw.ui_scale = 1.0f;
	mnw.ortho_l = 0;
	mnw.ortho_b = 0;
	mnw.ortho_r = (float)mnw.pix_dx;
	mnw.ortho_t = (float)mnw.pix_dy;
	mnw.mar_y = std::max(0.0f, (float)(mnw.pix_dy - 768));
	mnw.mar_x = std::max(0.0f, (float)(mnw.pix_dx - 1024) * 0.5f);
	if (mnw.cur_wind == -1) mnw.mar_x = 0;
	mnw.cen_x = (float)mnw.pix_dx * 0.5f;
	mnw.cen_y = 384.0f;
	if (mnw.cur_wind >= 0) OGL_viewport(2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1.0f, 0);
}

void OGL_viewport(int mode, float a1, float a2, float a3, float a4, float a5, float a6, float a7, float a8, float a9,
                  float a10, float zoom, int keep_aspect)
{
	if (mode == 2) {
		a1 = mnw.ortho_l;
		a3 = mnw.ortho_b;
		a5 = mnw.ortho_r;
		a8 = mnw.ortho_t;
		a2 = a4 = 0;
		a6 = (float)mnw.pix_dx;
		a9 = (float)mnw.pix_dy;
	} else if (mode == 3) {
		a1 *= a7;
		a3 *= a7;
		a5 *= a7;
		a8 *= a7;
		a2 *= mnw.ui_scale;
		a4 *= mnw.ui_scale;
		a6 *= mnw.ui_scale;
		a9 *= mnw.ui_scale;
	}
	const float width = a6 - a2, height = a9 - a4;
	if (keep_aspect && width != 0) {
		a3 *= height / width;
		a8 *= height / width;
	}

	glMatrixMode(GL_PROJECTION);
	glLoadIdentity();
	if (mode == 2)
		xcam.SetupOrtho(a1 / zoom, a5 / zoom, a3 / zoom, a8 / zoom, -1, 1);
	else if (mode == 3)
		xcam.SetupFrustum(a1 / zoom, a5 / zoom, a3 / zoom, a8 / zoom, a7, a10);
	glViewport((GLint)a2, (GLint)a4, (GLsizei)width, (GLsizei)height);

	xcam.Identity();
	glMatrixMode(GL_PROJECTION);
	glLoadMatrixd(xcam.proj);
	glMatrixMode(GL_MODELVIEW);
	glLoadMatrixd(xcam.mv);
	xcam.readback = 0;
}

void OGL_screensize(int mode, float x1, float y1, float x2, float y2)
{
	if (mode == 2) {
		glViewport(0, 0, mnw.pix_dx, mnw.pix_dy);
		return;
	}
	if (mode == 3) {
		x1 *= mnw.ui_scale;
		y1 *= mnw.ui_scale;
		x2 *= mnw.ui_scale;
		y2 *= mnw.ui_scale;
	}
	glViewport((GLint)x1, (GLint)y1, (GLsizei)(x2 - x1), (GLsizei)(y2 - y1));
}

void OGL_scissors(float x, float y, float w, float h)
{
	const float x0 = (x + mnw.org_x) * mnw.ui_scale, y0 = (y + mnw.org_y) * mnw.ui_scale;
	const float width = (x + mnw.org_x + w) * mnw.ui_scale - x0;
	const float height = (y + mnw.org_y + h) * mnw.ui_scale - y0;
	glEnable(GL_SCISSOR_TEST);
	glScissor((GLint)x0, (GLint)y0, width > 0 ? (GLsizei)width : 0, height > 0 ? (GLsizei)height : 0);
}

void OGL_scissors_end()
{
	glDisable(GL_SCISSOR_TEST);
}

void OGL_sbuff()
{
	glColor4f(ren.green_mode ? 0 : 1, 1, ren.green_mode ? 0 : 1, ren.global_alpha);
	xtim.profile_chart("sb1", 0);
	plat_gl_swap_buffers();
	xtim.profile_chart("sb2", 0);
}

void OGL_screenshot(int write)
{
	static int shot = -1;
	const int w = std::clamp(mnw.pix_dx, 0, 2048), h = std::clamp(mnw.pix_dy, 0, 2048);

	// Rows of 3-byte pixels are packed tight: with GL's default alignment of 4,
	// any width not divisible by 4 would come out sheared.
	GLint alignment = 4;
	glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
	glPixelStorei(GL_PACK_ALIGNMENT, 1);
	glReadPixels((mnw.pix_dx - w) / 2, (mnw.pix_dy - h) / 2, w, h, GL_RGB, GL_UNSIGNED_BYTE, scratch_array);
	glPixelStorei(GL_PACK_ALIGNMENT, alignment);
	if (!write) return;

	std::string name;
	do {
		char num[16];
		int_to_str(++shot, num, 0, 0);
		name = std::string("screenshot_") + num + ".png";
	} while (file_exists(name));
	write_png_to_disk(name, w, h, 3);
}

// ---- Primitives ----

void OGL_setcolor(int colour, float alpha)
{
	float c[3] = {colr.palette[colour][0], colr.palette[colour][1], colr.palette[colour][2]};
	if (colour < 46)
		for (int i = 0; i < 3; ++i) c[i] *= colr.tint[i];
	alpha *= ren.global_alpha;
	if (ren.green_mode) {
		const float s = c[0] + c[1] + c[2];
		c[0] = 0;
		c[1] = s < 0.01f ? 0.01f : s > 1.0f ? 1.0f : s;
		c[2] = 0;
	}
	if ((double)alpha > 0.99)
		glColor3fv(c);
	else
		glColor4f(c[0], c[1], c[2], alpha);
}

static void flat_2d()
{
	OGL_setstate(1, 0, 3, 5, 9, 11);
}

void OGL_line(int colour, float alpha, float x1, float y1, float x2, float y2)
{
	flat_2d();
	OGL_setcolor(colour, alpha);
	const float ox = mnw.org_x, oy = mnw.org_y;
	glBegin(GL_LINES);
	glVertex2f(x1 + ox + 0.5f, y1 + oy + 0.5f);
	glVertex2f(x2 + ox + 0.5f, y2 + oy + 0.5f);
	glEnd();
}

void OGL_fillrect(int colour, float alpha, float x, float y, float w, float h)
{
	flat_2d();
	OGL_setcolor(colour, alpha);
	const float ox = mnw.org_x, oy = mnw.org_y;
	glBegin(GL_QUADS);
	glVertex2f(x + ox, y + oy);
	glVertex2f(x + ox, y + oy + h);
	glVertex2f(x + ox + w, y + oy + h);
	glVertex2f(x + ox + w, y + oy);
	glEnd();
}

void OGL_framerect(int colour, float alpha, float x, float y, float w, float h)
{
	flat_2d();
	OGL_setcolor(colour, alpha);
	const double ox = mnw.org_x + 0.5, oy = mnw.org_y + 0.5;
	glBegin(GL_LINE_LOOP);
	glVertex2f((float)(ox + x), (float)(oy + y));
	glVertex2f((float)(ox + x), (float)(oy + y + h));
	glVertex2f((float)(ox + x + w), (float)(oy + y + h));
	glVertex2f((float)(ox + x + w), (float)(oy + y));
	glEnd();
}

void OGL_fillcircle(int colour, float x, float y, float r)
{
	if (r < 0) return;
	for (float dy = -r; dy <= r; dy += 1) {
		const float half = sqrtf(r * r - dy * dy);
		OGL_line(colour, 1, x - half, y + dy, x + half, y + dy);
	}
}

void OGL_framecircle(int colour, float x, float y, float r)
{
	OGL_setstate(1, 0, 3, 4, 9, 11);
	OGL_setcolor(colour, 1);
	const float ox = mnw.org_x, oy = mnw.org_y;
	glBegin(GL_LINE_STRIP);
	for (int a = 0; a <= 360; a += 5) glVertex2f(x + ox + r * lookup_sin[a] + 0.5f, y + oy + r * lookup_cos[a] + 0.5f);
	glEnd();
}

void OGL_arc(int colour, float x, float y, float r1, float r2, float a1, float a2)
{
	if (r2 < r1 || a2 < a1) return;
	for (float r = r1; r <= r2; r += 1) {
		float px = x + r * sinf(a1 * degtorad), py = y + r * cosf(a1 * degtorad);
		for (float a = a1; a <= a2; a += 1) {
			const float qx = x + r * sinf(a * degtorad), qy = y + r * cosf(a * degtorad);
			OGL_line(colour, 1, px, py, qx, qy);
			px = qx;
			py = qy;
		}
	}
}

void OGL_grayrect(float x1, float y1, float x2, float y2, float alpha)
{
	flat_2d();
	OGL_setcolor(12, alpha);
	const float ox = mnw.org_x, oy = mnw.org_y;
	glBegin(GL_QUADS);
	glVertex2f(x1 + ox, y1 + oy);
	glVertex2f(x1 + ox, y2 + oy);
	glVertex2f(x2 + ox, y2 + oy);
	glVertex2f(x2 + ox, y1 + oy);
	glEnd();
}

void OGL_2dquad(int tex, int colour, float alpha, float x1, float y1, float s1, float t1, float x2, float y2, float s2,
                float t2, float x3, float y3, float s3, float t3, float x4, float y4, float s4, float t4, int tex_units,
                int alpha_mode)
{
	OGL_setstate(1, tex_units, 3, alpha_mode, 9, 11);
	if (tex > 0) tman.bind_ref(tex, 0, tex == 418 ? 17 : 0);
	OGL_setcolor(colour, alpha);
	const float ox = mnw.org_x, oy = mnw.org_y;
	glBegin(GL_QUADS);
	glTexCoord2f(s1, t1);
	glVertex2f(x1 + ox, y1 + oy);
	glTexCoord2f(s2, t2);
	glVertex2f(x2 + ox, y2 + oy);
	glTexCoord2f(s3, t3);
	glVertex2f(x3 + ox, y3 + oy);
	glTexCoord2f(s4, t4);
	glVertex2f(x4 + ox, y4 + oy);
	glEnd();
}

void OGL_2dquad_d(int tex, int colour, float alpha, float x, float y, float w, float h, float s, float t, float ds,
                  float dt, int alpha_mode)
{
	OGL_setstate(1, 1, 3, alpha_mode, 9, 11);
	if (tex > 0) tman.bind_ref(tex, 0, 0);
	OGL_setcolor(colour, alpha);
	const float ox = mnw.org_x, oy = mnw.org_y;
	glBegin(GL_QUADS);
	glTexCoord2f(s, t);
	glVertex2f(x + ox, y + oy);
	glTexCoord2f(s, t + dt);
	glVertex2f(x + ox, y + oy + h);
	glTexCoord2f(s + ds, t + dt);
	glVertex2f(x + ox + w, y + oy + h);
	glTexCoord2f(s + ds, t);
	glVertex2f(x + ox + w, y + oy);
	glEnd();
}

void OGL_plot_back_col()
{
	OGL_fillrect(34, 1, -mnw.org_x, -mnw.org_y, (float)mnw.pix_dx, (float)mnw.pix_dy);
}

void OGL_glow_colors()
{
	glBlendFunc(GL_SRC_ALPHA, GL_ONE);
}

void OGL_nrml_colors()
{
	glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

// ---- Background image ----

const int back_tile = 512, back_row_px = 2048;

void OGL_make_back_tex()
{
	if (mnw.cur_wind != -1) return;
	memset(scratch_array, 0, scratch_array_bytes);
	const std::string path = "Resources/bitmaps/intro_ZOV.png";
	TEX_image_desc desc = {};
	unsigned char* data = scratch_array;
	// Rows are padded to 2048 pixels inside the 16 MiB buffer: an image wider or
	// taller than 2048 does not fit and is refused before anything is written.
	if (!TEX_load_any(path, data, GL_RGBA, back_row_px, 0, desc, scratch_array_bytes)) {
		__MACIBM_alert(0, "Trying to load a texture that you do not have!",
		               "This smacks of a mis-installed copy of Nimbara!",
		               "Get a new download from www." + maker_domain + ". The missing file is:", path, t_exit, kFile,
		               line_no_background);
		return;
	}
	back_dx = desc.width;
	back_dy = desc.height;

	unsigned char* image = (unsigned char*)nedmalloc(scratch_array_bytes);
	if (!image) return;
	memcpy(image, scratch_array, scratch_array_bytes);
	OGL_setstate(1, 1, 3, 5, 9, 11);

	const size_t src_stride = (size_t)back_row_px * 4, dst_stride = (size_t)back_tile * 4;
	for (int r = 0; r < 4; ++r)
		for (int c = 0; c < 4; ++c) {
			memset(scratch_array, 0, (size_t)back_tile * back_tile * 4);
			const int rows = std::clamp(back_dy - back_tile * r, 0, back_tile);
			const int cols = std::clamp(back_dx - back_tile * c, 0, back_tile);
			for (int y = 0; y < rows; ++y)
				memcpy(scratch_array + y * dst_stride,
				       image + (size_t)(back_tile * r + y) * src_stride + (size_t)back_tile * c * 4, (size_t)cols * 4);
			scratch_dx = scratch_dy = back_tile;
			tman.load_texture(tex_fail_fatal, 427 + 4 * r + c, 1042, tex_load_now, "scratch_array-t_tex_back (tile)");
		}
	nedfree(image);
}

// Where tile row r (from the bottom), column c of a dx x dy image with its
// lower-left corner at (x0, y0) is drawn, and the part of the tile's texture it
// shows; false when the tile holds no part of the image. Each tile is drawn
// texel for texel, cut where the image ends.
struct back_tile_span {
	float x_lo, x_hi, y_lo, y_hi, s_hi, t_hi;
};

static bool back_tile_at(int r, int c, float x0, float y0, int dx, int dy, back_tile_span* out)
{
	out->x_lo = x0 + (float)(back_tile * c);
	out->y_lo = y0 + (float)(back_tile * r);
	out->x_hi = std::min(out->x_lo + back_tile, x0 + (float)dx);
	out->y_hi = std::min(out->y_lo + back_tile, y0 + (float)dy);
	out->s_hi = (out->x_hi - out->x_lo) / back_tile;
	out->t_hi = (out->y_hi - out->y_lo) / back_tile;
	return out->x_hi > out->x_lo && out->y_hi > out->y_lo;
}

void OGL_plot_back_tex()
{
	float x0, y0;
	if (mnw.cur_wind != -1) {
		x0 = mnw.mar_x;
		y0 = 0;
	} else {
		const float x1 = (float)std::min(mnw.pix_dx, back_dx);
		x0 = x1 - (float)back_dx;
		const int e = std::clamp(back_dy - mnw.pix_dy, 0, 512);
		y0 = (float)(mnw.pix_dy + e - back_dy);
		if (back_dx < mnw.pix_dx || back_dy < mnw.pix_dy) OGL_plot_back_col();
	}
	OGL_setstate(1, 1, 3, ren.global_alpha > 0.99f ? 6 : 5, 9, 11);
	OGL_setcolor(0, 1);

	for (int r = 0; r < 4; ++r)
		for (int c = 0; c < 4; ++c) {
			back_tile_span t;
			if (!back_tile_at(r, c, x0, y0, back_dx, back_dy, &t)) continue;
			if (!(t.x_hi > 0 && t.x_lo < (float)mnw.pix_dx && t.y_hi > 0 && t.y_lo < (float)mnw.pix_dy)) continue;
			tman.bind_ref(427 + 4 * r + c, 0, 0);
			glBegin(GL_QUADS);
			glTexCoord2f(0, 0);
			glVertex2f(t.x_lo, t.y_lo);
			glTexCoord2f(0, t.t_hi);
			glVertex2f(t.x_lo, t.y_hi);
			glTexCoord2f(t.s_hi, t.t_hi);
			glVertex2f(t.x_hi, t.y_hi);
			glTexCoord2f(t.s_hi, 0);
			glVertex2f(t.x_hi, t.y_lo);
			glEnd();
		}
}

// ---- Bitmap-font text ----

int OGL_strtex(int charset, int colour, float* s0, float* t0, float* cell_w, float* cell_h)
{
	int fixed;
	switch (charset) {
	case 100: fixed = 0; break;
	case 102: fixed = 10; break;
	case 103: fixed = 15; break;
	default:
		__MACIBM_alert(0, "String proc with bad charset!", "", "", "", t_exit, kFile, line_bad_charset);
		return 0;
	}
	OGL_setstate(1, 1, 3, 5, 9, 11);
	OGL_setcolor(colour, 1);
	tman.bind_ref(tex_interface_ref, 0, 0);
	*s0 = 0;
	*t0 = 0;
	*cell_w = 14;
	*cell_h = 15;
	return fixed;
}

void OGL_char(float x, float y, float s0, float t0, float cell_w, float cell_h, int code, int charset)
{
	(void)charset;  // every charset draws the cells of the sheet
	const float X = (float)(int)x, Y = (float)(int)y - 4;
	int c, r;
	OGL_glyph_cell(code, &c, &r);
	const float k = 0.001953125f;  // 1 / 512
	const float s = (s0 + (float)c * cell_w) * k, t = (t0 + (float)r * cell_h) * k;
	const float ds = cell_w * k, dt = cell_h * k;
	const float w = oglp > 1 ? cell_w * oglp : cell_w, h = oglp > 1 ? cell_h * oglp : cell_h;
	glTexCoord2f(s, t);
	glVertex2f(X, Y);
	glTexCoord2f(s, t + dt);
	glVertex2f(X, Y + h);
	glTexCoord2f(s + ds, t + dt);
	glVertex2f(X + w, Y + h);
	glTexCoord2f(s + ds, t);
	glVertex2f(X + w, Y);
}

void str_one_line(int colour, float x, float y, const std::string& text, int charset, int align)
{
	float s0, t0, cw, ch;
	const int fixed = OGL_strtex(charset, colour, &s0, &t0, &cw, &ch);
	const float W = (float)OGL_str_width(text);
	if (align == 1) x -= 0.5f * W;
	if (align == 2) x -= W;
	glBegin(GL_QUADS);
	for (char b : text) {
		if (b == 13 || b == 10 || b == 9) continue;
		OGL_char(x, y, s0, t0, cw, ch, (signed char)b, charset);
		x += fixed > 0 ? (float)fixed : (float)OGL_advance(b);
	}
	glEnd();
}

float OGL_string(int colour, float x, float y, const std::string& text, float wrap_w, int charset, int align)
{
	float s0, t0, cw, ch;
	const int fixed = OGL_strtex(charset, colour, &s0, &t0, &cw, &ch);
	const float X = roundf(x + mnw.org_x);
	float Y = roundf(y + mnw.org_y - 2);
	if (wrap_w <= 0 || wrap_w >= 9999) {
		str_one_line(colour, X, Y, text, charset, align);
		return Y - mnw.org_y + 2;
	}
	for (const std::string& line : OGL_wrap_lines(text, X, wrap_w, fixed)) {
		str_one_line(colour, X, Y, line, charset, align);
		Y -= 10;
	}
	return Y - mnw.org_y + 2;
}

void OGL_number(int colour, float x, float y, float value, int digits, int decimals, int charset)
{
	if (charset != 102) {
		OGL_string(colour, x, y, OGL_number_text(value, digits, decimals), 9999, charset, 0);
		return;
	}
	float s0, t0, cw, ch;
	OGL_strtex(102, colour, &s0, &t0, &cw, &ch);
	const int X0 = (int)(roundf(x + mnw.org_x) - 10);
	const float Y = roundf(y + mnw.org_y) - 2;
	glBegin(GL_QUADS);
	for (const OGL_number_cell& c : OGL_number_cells(value, digits, decimals))
		OGL_char((float)X0 + c.dx, Y, s0, t0, cw, ch, c.c, 102);
	glEnd();
}

void OGL_gray_string(int colour, float x, float y, std::string text)
{
	const float W = (float)OGL_str_width(text);
	const float left = x - W / 2;
	OGL_grayrect(left - 2, y - 2, x + W / 2 + 2, y + 8, 0.5f);
	OGL_string(colour, left, y, text, 9999, 100, 0);
}

void OGL_boxed_string(float x, float y, const std::string& label, const std::string& text, int charset, int colour)
{
	std::string left, right, third;
	BTN_expand_label(label, left, right, third);
	const float W = charset == 102   ? 10.0f * (float)text.size() + 7
	                : charset == 100 ? (float)OGL_str_width(text) + 7
	                                 : 100.0f;
	BTN_frame1(9, x, y + 3, W, 0);
	BTN_util_draw_label(x - W / 2 - 8, y, 0, left, 0);
	BTN_util_draw_label(x + W / 2 + 8, y, 2, right, 0);
	OGL_string(colour, x - W / 2 + 4, y, text, 9999, charset, 0);
}
