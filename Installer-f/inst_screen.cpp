#include "Installer-f/inst_screen.h"

#include "OOPS_cpp/colr.h"
#include "OOPS_cpp/oglp.h"
#include "hard_texes/hard_tex_layout.h"

// The installer's images are addressed in units of 1/1024 of their textures.
const float inst_tex_units = 1024;
const int   ref_installer = 393, ref_background = 394;
const int   alpha_blend = 5;

static void plot_piece(int ref, float x, float y, int s, int t, int w, int h, int hilite)
{
	static const float tints[3][3] = {{1, 1, 1}, {0.8f, 1, 0.8f}, {1, 0.8f, 0.8f}};
	const float* c = tints[hilite >= 0 && hilite <= 2 ? hilite : 0];
	colr.assign(103, c[0], c[1], c[2]);
	OGL_2dquad_d(ref, 103, 1, x, y, (float)w, (float)h, s / inst_tex_units, t / inst_tex_units, w / inst_tex_units,
	             h / inst_tex_units, alpha_blend);
}

void interface_rect(float x, float y, int s, int t, int w, int h, int hilite)
{
	plot_piece(ref_installer, x, y, s, t, w, h, hilite);
}

void APP_update()
{
	plot_piece(ref_background, 0, 0, 0, 0, hard_tex::back_w, hard_tex::back_h, rect_plain);
	interface_rect(inst_window_x, inst_window_y, 0, 0, hard_tex::installer_w, hard_tex::installer_pic_h, rect_plain);
}
