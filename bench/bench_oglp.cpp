// One frame of interface drawing on the headless context: 2,000 characters of
// text in 40 lines and 500 rectangles, through the drawing layer, against the
// same pixels issued as raw GL in two batches. Counts the GL calls of each
// (this program stands in front of libGL for the calls below) and times them.
//
//   bench_oglp [frames=200]
#include <GL/gl.h>
#include <dlfcn.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "GenC/MACIBM_context.h"
#include "GenC/hl_globals.h"
#include "OGL/OGL_extensions.h"
#include "OOPS_cpp/oglp.h"
#include "OOPS_cpp/tman.h"
#include "hard_texes/hard_texes.h"

enum { vertex_data, begin_end, state_change, kinds };
static long counts[kinds];

// Each call counted by kind, then passed on to libGL.
#define WRAP(name, kind, params, args)                                                  \
	extern "C" void name params                                                          \
	{                                                                                    \
		static auto real = (void(*) params)dlsym(RTLD_NEXT, #name);                      \
		++counts[kind];                                                                  \
		real args;                                                                       \
	}
WRAP(glBegin, begin_end, (GLenum m), (m))
WRAP(glEnd, begin_end, (), ())
WRAP(glVertex2f, vertex_data, (GLfloat x, GLfloat y), (x, y))
WRAP(glTexCoord2f, vertex_data, (GLfloat s, GLfloat t), (s, t))
WRAP(glColor3fv, vertex_data, (const GLfloat* c), (c))
WRAP(glColor4f, vertex_data, (GLfloat r, GLfloat g, GLfloat b, GLfloat a), (r, g, b, a))
WRAP(glEnable, state_change, (GLenum c), (c))
WRAP(glDisable, state_change, (GLenum c), (c))
WRAP(glDepthMask, state_change, (GLboolean f), (f))
WRAP(glBlendFunc, state_change, (GLenum s, GLenum d), (s, d))
WRAP(glBindTexture, state_change, (GLenum t, GLuint n), (t, n))
WRAP(glTexEnvi, state_change, (GLenum t, GLenum p, GLint v), (t, p, v))
WRAP(glTexEnvf, state_change, (GLenum t, GLenum p, GLfloat v), (t, p, v))
WRAP(glTexEnvfv, state_change, (GLenum t, GLenum p, const GLfloat* v), (t, p, v))

static double now()
{
	return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

static std::string line_text(int i)
{
	std::string s;
	for (int k = 0; s.size() < 50; ++k) s += "Installing file " + std::to_string(i * 7 + k) + " of 9000. ";
	return s.substr(0, 50);
}

static void framework_frame()
{
	for (int i = 0; i < 500; ++i) OGL_fillrect(i % 3 ? 3 : 6, 1, (float)(i % 25) * 40, (float)(i / 25) * 30, 36, 26);
	for (int i = 0; i < 40; ++i) OGL_string(0, 20, 740 - 18 * (float)i, line_text(i), 0, 100, 0);
}

// The same quads, prepared once: rectangles, then glyphs.
struct quad {
	float x0, y0, x1, y1, s0, t0, s1, t1;
	float grey;
};
static std::vector<quad> raw_rects, raw_glyphs;

static void prepare_raw()
{
	for (int i = 0; i < 500; ++i) {
		const float x = (float)(i % 25) * 40, y = (float)(i / 25) * 30;
		raw_rects.push_back({x, y, x + 36, y + 26, 0, 0, 0, 0, i % 3 ? 0.7f : 0.3f});
	}
	for (int i = 0; i < 40; ++i) {
		float x = 20;
		const float y = 740 - 18 * (float)i - 2 - 4;
		for (char b : line_text(i)) {
			int c, r;
			OGL_glyph_cell((signed char)b, &c, &r);
			raw_glyphs.push_back({x, y, x + 14, y + 15, c * 14 / 512.0f, r * 15 / 512.0f, (c + 1) * 14 / 512.0f,
			                      (r + 1) * 15 / 512.0f, 1});
			x += (float)OGL_advance(b);
		}
	}
}

static void raw_frame()
{
	glDisable(GL_TEXTURE_2D);
	glBegin(GL_QUADS);
	for (const quad& q : raw_rects) {
		const float c[3] = {q.grey, q.grey, q.grey};
		glColor3fv(c);
		glVertex2f(q.x0, q.y0), glVertex2f(q.x0, q.y1), glVertex2f(q.x1, q.y1), glVertex2f(q.x1, q.y0);
	}
	glEnd();
	glEnable(GL_TEXTURE_2D);
	glBindTexture(GL_TEXTURE_2D, tex_interface_ref);
	const float white[3] = {1, 1, 1};
	glColor3fv(white);
	glBegin(GL_QUADS);
	for (const quad& q : raw_glyphs) {
		glTexCoord2f(q.s0, q.t0), glVertex2f(q.x0, q.y0);
		glTexCoord2f(q.s0, q.t1), glVertex2f(q.x0, q.y1);
		glTexCoord2f(q.s1, q.t1), glVertex2f(q.x1, q.y1);
		glTexCoord2f(q.s1, q.t0), glVertex2f(q.x1, q.y0);
	}
	glEnd();
}

// Calls of one frame, after a first frame that settles the caches.
static void count_calls(void (*frame)(), long* calls)
{
	frame();
	glFinish();
	for (long& c : counts) c = 0;
	frame();
	for (int k = 0; k < kinds; ++k) calls[k] = counts[k];
}

static double time_frames(void (*frame)(), int frames)
{
	const double t0 = now();
	for (int f = 0; f < frames; ++f) frame();
	glFinish();
	return (now() - t0) / frames;
}

int main(int argc, char** argv)
{
	const int frames = argc > 1 ? atoi(argv[1]) : 200;
	unsetenv("DISPLAY");
	MACIBM_init_tables();
	MACIBM_make_context();
	glExt.init_extensions();
	recall_ins_texes();
	mnw.cur_wind = 0;
	OGL_pix_specs(0);
	OGL_nrml_colors();
	prepare_raw();

	printf("one frame: 500 rectangles and 40 lines of 50 characters (2,000 glyphs), 1024 x 768, Mesa %s\n",
	       (const char*)glGetString(GL_RENDERER));
	printf("the drawing layer asks for its state 580 times a frame (one per rectangle, two per line)\n");
	struct {
		const char* name;
		void (*frame)();
		long calls[kinds];
		double best;
	} ways[] = {{"drawing layer", framework_frame, {}, 1e9}, {"raw GL, two batches", raw_frame, {}, 1e9}};
	for (auto& w : ways) count_calls(w.frame, w.calls);
	// Interleaved, best of seven: the machine's other work touches both alike.
	for (int rep = 0; rep < 7; ++rep)
		for (auto& w : ways) w.best = std::min(w.best, time_frames(w.frame, frames));
	for (auto& w : ways)
		printf("%-22s %8.3f ms/frame  %6ld vertex calls  %4ld begin/end  %4ld state changes\n", w.name, w.best * 1e3,
		       w.calls[vertex_data], w.calls[begin_end], w.calls[state_change]);
	printf("drawing layer / raw GL: %.2f\n", ways[0].best / ways[1].best);
	MACIBM_dispose_contexts();
	return 0;
}
