// Two-dimensional drawing in window pixels (origin bottom-left, y up, plus the
// current window's origin mnw.org_x, org_y): the viewport and pixel layout, the
// primitives with palette colours, the window background, and bitmap-font text.
// Main thread only, with the GL context current.
#ifndef OGLP_H
#define OGLP_H

#include <string>
#include <vector>

// ---- Viewport and pixel layout ----

// The layout fields of mnw from the window size; sets the 2-D projection once a
// window is selected.
void OGL_pix_specs(int);
// Mode 2: window-pixel orthographic projection (only zoom is read); mode 3:
// perspective frustum; any other mode: viewport only with the camera's matrices.
void OGL_viewport(int mode, float a1, float a2, float a3, float a4, float a5, float a6, float a7, float a8, float a9,
                  float a10, float zoom, int keep_aspect);
void OGL_screensize(int mode, float x1, float y1, float x2, float y2);
// Clips to a rectangle in interface units relative to the current window.
void OGL_scissors(float x, float y, float w, float h);
void OGL_scissors_end();
// Ends a frame: swaps the buffers.
void OGL_sbuff();
// Reads the centred window (at most 2048 x 2048) into scratch_array as RGB;
// write non-zero also saves it as the next free "screenshot_N.png".
void OGL_screenshot(int write);

// ---- Primitives ----

extern int back_dx, back_dy;  // size of the background image, 0 until loaded
extern const float st00[2], st01[2], st10[2], st11[2];

// The drawing colour rule: palette entry (tinted below 46) with alpha x global
// alpha, green mode applied; the three-component call when fully opaque.
void OGL_setcolor(int colour, float alpha);

void OGL_line(int colour, float alpha, float x1, float y1, float x2, float y2);
void OGL_fillrect(int colour, float alpha, float x, float y, float w, float h);
void OGL_framerect(int colour, float alpha, float x, float y, float w, float h);
void OGL_fillcircle(int colour, float x, float y, float r);
void OGL_framecircle(int colour, float x, float y, float r);
void OGL_arc(int colour, float x, float y, float r1, float r2, float a1, float a2);
void OGL_grayrect(float x1, float y1, float x2, float y2, float alpha);
void OGL_2dquad(int tex, int colour, float alpha, float x1, float y1, float s1, float t1, float x2, float y2, float s2,
                float t2, float x3, float y3, float s3, float t3, float x4, float y4, float s4, float t4, int tex_units,
                int alpha_mode);
void OGL_2dquad_d(int tex, int colour, float alpha, float x, float y, float w, float h, float s, float t, float ds,
                  float dt, int alpha_mode);
void OGL_plot_back_col();
void OGL_plot_back_tex();
// Loads "Resources/bitmaps/intro_ZOV.png" into the sixteen tiles 427..442; only
// before the first window is selected.
void OGL_make_back_tex();
void OGL_glow_colors();
void OGL_nrml_colors();
void OGL_poly_offset(int n);
void OGL_setspec(float level);
void OGL_spectrum_rgb(float t);
// The 3-D emitters: the caller brackets them with glBegin and glEnd.
void OGL_3dline(float x1, float y1, float z1, float x2, float y2, float z2);
void OGL_3dquad(float* p0, float* p1, float* p2, float* p3);
void OGL_3dquad_st(float* p0, float* p1, float* p2, float* p3, float s1, float t1, float s2, float t2);
void OGL_cube(float x, float y, float z, float w, float h, float d, float s1, float s2, float t1, float t2, float angle);
void OGL_disc(float x, float y, float z, float r);
void OGL_printer();

// ---- Bitmap-font text ----
//
// Charsets: 100 proportional, 102 fixed 10 px, 103 fixed 15 px; all three draw
// from the interface sheet (ref 392), cells of 14 x 15 texels from the table.
// Charset 103 once named a 40-column atlas of 13 x 13 cells (ref 396) that this
// program never uploads and whose columns would not fit the 512-texel sheet; it
// keeps its 15 px advance and draws the glyphs of the sheet.

extern float oglp;  // glyph quads are enlarged by this factor when above 1

// Cell (column, row) on the sheet of a character code (a signed byte); (0, 0),
// the space, for every code without a glyph.
void OGL_glyph_cell(int code, int* column, int* row);
// Proportional advance of a byte in pixels; 0 for bytes without a glyph.
int OGL_advance(char c);
// Sum of the advances of every byte.
int OGL_str_width(const std::string& text);

// The lines of a wrapped text, each keeping its break character. Pen positions
// start at x; a line ends where the next word, at 6 px a character, would pass
// x + wrap_w. fixed: the fixed advance, 0 for proportional.
std::vector<std::string> OGL_wrap_lines(const std::string& text, float x, float wrap_w, int fixed);

// The text of OGL_number for charsets other than 102.
std::string OGL_number_text(float value, int digits, int decimals);
// The cells of OGL_number in charset 102: each character and its x offset from X0.
struct OGL_number_cell {
	char  c;
	float dx;
};
std::vector<OGL_number_cell> OGL_number_cells(float value, int digits, int decimals);

// Selects the text state, colour and sheet; writes the base offset and cell
// size; returns the fixed advance (0 proportional). A bad charset is fatal.
int OGL_strtex(int charset, int colour, float* s0, float* t0, float* cell_w, float* cell_h);
// One glyph's four vertices; the caller has opened GL_QUADS.
void OGL_char(float x, float y, float s0, float t0, float cell_w, float cell_h, int code, int charset);
// One line at window pixels; align 0 left, 1 centred, 2 right.
void str_one_line(int colour, float x, float y, const std::string& text, int charset, int align);
// Text in the current window, wrapped when 0 < wrap_w < 9999; returns the y
// for the following text.
float OGL_string(int colour, float x, float y, const std::string& text, float wrap_w, int charset, int align);
// A number in a fixed count of digit cells, decimals of them after the point.
void OGL_number(int colour, float x, float y, float value, int digits, int decimals, int charset);
void OGL_gray_string(int colour, float x, float y, std::string text);
void OGL_boxed_string(float x, float y, const std::string& label, const std::string& text, int charset, int colour);

#endif
