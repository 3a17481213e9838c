#include "OOPS_cpp/BTN_util.h"

#include <GL/gl.h>

#include <cmath>
#include <cstdlib>

#include "GenC/MACIBM_alert.h"
#include "GenC/hl_globals.h"
#include "OGL/OGL_setstate.h"
#include "OOPS_cpp/oglp.h"
#include "OOPS_cpp/tman.h"
#include "hard_texes/hard_tex_layout.h"

static const char* const kFile = "ZUzuvir/OOPS_cpp/BTN_util";

void BTN_expand_label(const std::string& label, std::string& left, std::string& right, std::string& third)
{
	const size_t brace = label.find('{');
	const std::string sides = label.substr(0, brace);
	third.clear();
	if (brace != std::string::npos) {
		third = label.substr(brace + 1);
		if (!third.empty() && third.back() == '}') third.pop_back();
	}
	const size_t bar = sides.find('|');
	left = sides.substr(0, bar);
	right = bar == std::string::npos ? "" : sides.substr(bar + 1);
}

void BTN_util_draw_label(float x, float y, int side, const std::string& text, int lit)
{
	const int colour = lit ? 81 : 43;
	const int align = side == 0 ? 2 : side == 1 ? 1 : 0;
	const size_t mid = text.size() / 2;
	size_t split = std::string::npos;
	if (OGL_str_width(text) > 150)
		for (size_t i = 0; i < text.size(); ++i)
			if (text[i] == ' ' && (split == std::string::npos || labs((long)i - (long)mid) < labs((long)split - (long)mid)))
				split = i;
	if (split == std::string::npos) {
		OGL_string(colour, x, y, text, 9999, 100, align);
		return;
	}
	OGL_string(colour, x, y + 5, text.substr(0, split), 9999, 100, align);
	OGL_string(colour, x, y - 5, text.substr(split + 1), 9999, 100, align);
}

void BTN_frame1(int type, float x, float y, float w, int flag)
{
	(void)flag;
	if (type != 9) {
		__MACIBM_alert(0, "BTN_frame1 was asked for a frame type it does not know.", "type=" + std::to_string(type),
		               "", "", t_exit, kFile, __LINE__);
		return;
	}
	const hard_tex::rect& f = hard_tex::frame9;
	const int cap = hard_tex::frame9_cap;
	const float cx = roundf(x);
	const float width = 2.0f * roundf(w / 2);
	const float left = cx - width / 2, right = cx + width / 2;
	const float bottom = roundf(y - (float)f.h / 2), top = bottom + (float)f.h;
	const float k = 1.0f / hard_tex::sheet_size;

	OGL_setstate(1, 1, 3, 5, 9, 11);
	OGL_setcolor(0, 1);
	tman.bind_ref(tex_interface_ref, 0, 0);
	const float ox = mnw.org_x, oy = mnw.org_y;
	// Caps at their own width; the middle stretches between them.
	const float xs[4] = {left, left + cap, right - cap, right};
	const float ss[4] = {(float)f.x, (float)(f.x + cap), (float)(f.x + f.w - cap), (float)(f.x + f.w)};
	glBegin(GL_QUADS);
	for (int i = 0; i < 3; ++i) {
		glTexCoord2f(ss[i] * k, f.y * k);
		glVertex2f(xs[i] + ox, bottom + oy);
		glTexCoord2f(ss[i] * k, (f.y + f.h) * k);
		glVertex2f(xs[i] + ox, top + oy);
		glTexCoord2f(ss[i + 1] * k, (f.y + f.h) * k);
		glVertex2f(xs[i + 1] + ox, top + oy);
		glTexCoord2f(ss[i + 1] * k, f.y * k);
		glVertex2f(xs[i + 1] + ox, bottom + oy);
	}
	glEnd();
}
