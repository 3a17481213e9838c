#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <climits>
#include <cstring>
#include <memory>

#include "OOPS_cpp/colr.h"

TEST(Palette, Defaults)
{
	colr_class c;
	EXPECT_EQ(c.file_gamma, 1.8);
	EXPECT_EQ(c.screen_gamma, 1.8);
	EXPECT_EQ(c.gamma_on, 0);
	for (int i = 0; i < 256; ++i) ASSERT_EQ(c.gamma_table[i], i);
	for (float t : c.tint) EXPECT_EQ(t, 1.0f);

	struct {
		int   index;
		float r, g, b;
	} rows[] = {{0, 1, 1, 1},           {1, 1, 0.2f, 0.2f},    {11, 0, 0, 0},         {34, 0, 0, 0},
	            {39, 0, 0, 0},          {72, 0.49f, 0.43f, 0.24f}, {78, 0.44f, 0.53f, 0.54f}, {79, 0, 0, 0},
	            {86, 0, 0, 0},          {102, 1, 1, 0.9f},     {103, 0, 0, 0},        {104, 0, 0, 0}};
	for (auto& r : rows) {
		EXPECT_EQ(c.palette[r.index][0], r.r) << r.index;
		EXPECT_EQ(c.palette[r.index][1], r.g) << r.index;
		EXPECT_EQ(c.palette[r.index][2], r.b) << r.index;
	}
	int coloured = 0;
	for (auto& p : c.palette) coloured += p[0] || p[1] || p[2];
	EXPECT_EQ(coloured, 65);
	for (auto& s : c.spectrum) EXPECT_EQ(s[0] + s[1] + s[2], 0.0f);
}

TEST(Palette, AssignKeepsToItsIndicesAndTintRisesToThreeQuarters)
{
	colr_class c;
	c.assign(104, 0.1f, 0.2f, 0.3f);
	EXPECT_EQ(c.palette[104][2], 0.3f);

	auto before = std::make_unique<colr_class>(c);
	for (int bad : {-1, 105, 106, INT_MAX, INT_MIN}) {
		c.assign(bad, 9, 9, 9);
		EXPECT_EQ(memcmp(&c, before.get(), sizeof(c)), 0) << bad;
	}

	c.tint[0] = 0.5f, c.tint[1] = 0.9f, c.tint[2] = 0.75f;
	c.set_lites_for_interface();
	EXPECT_EQ(c.tint[0], 0.75f);
	EXPECT_EQ(c.tint[1], 0.9f);
	EXPECT_EQ(c.tint[2], 0.75f);
}

TEST(Palette, Spectra)
{
	struct {
		int   mode, index;
		float r, g, b;
	} rows[] = {
		{0, 0, 1, 0, 0},           {0, 100, 1, 0.16f, 0.04f},   {0, 200, 1, 0.32f, 0.08f},
		{0, 500, 0.5f, 1, 0},      {0, 700, 0, 0.5f, 0.5f},     {0, 999, 0.796f, 0, 0.801f},
		{1, 500, 0.5f, 0, 0},      {2, 250, 0, 0.25f, 0},       {3, 999, 0, 0, 0.999f},
		{7, 999, 0, 0, 0.999f},  // an unknown mode leaves mode 3's spectrum
	};
	colr_class c;
	for (auto& r : rows) {
		SCOPED_TRACE(testing::Message() << "mode " << r.mode << " entry " << r.index);
		c.spectrum_init(r.mode);
		EXPECT_NEAR(c.spectrum[r.index][0], r.r, 1e-5);
		EXPECT_NEAR(c.spectrum[r.index][1], r.g, 1e-5);
		EXPECT_NEAR(c.spectrum[r.index][2], r.b, 1e-5);
	}
}

namespace {

// A headless Mesa context with a 64 x 1024 pbuffer, pixels addressed 1:1. EGL is
// opened at run time so that the palette's own library needs only OpenGL.
class PixelContext {
public:
	PixelContext()
	{
		setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
		lib = dlopen("libEGL.so.1", RTLD_NOW);
		if (!lib) return;
		auto get_proc = (PFNEGLGETPROCADDRESSPROC)dlsym(lib, "eglGetProcAddress");
		auto get_display = (PFNEGLGETPLATFORMDISPLAYEXTPROC)get_proc("eglGetPlatformDisplayEXT");
		auto initialize = (PFNEGLINITIALIZEPROC)get_proc("eglInitialize");
		auto bind_api = (PFNEGLBINDAPIPROC)get_proc("eglBindAPI");
		auto choose = (PFNEGLCHOOSECONFIGPROC)get_proc("eglChooseConfig");
		auto make_surface = (PFNEGLCREATEPBUFFERSURFACEPROC)get_proc("eglCreatePbufferSurface");
		auto make_context = (PFNEGLCREATECONTEXTPROC)get_proc("eglCreateContext");
		auto make_current = (PFNEGLMAKECURRENTPROC)get_proc("eglMakeCurrent");
		terminate = (PFNEGLTERMINATEPROC)get_proc("eglTerminate");
		if (!get_display || !initialize || !bind_api || !choose || !make_surface || !make_context || !make_current)
			return;

		display = get_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
		if (!display || !initialize(display, nullptr, nullptr) || !bind_api(EGL_OPENGL_API)) return;
		const EGLint want[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_RED_SIZE, 8,
		                       EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_NONE};
		EGLConfig config;
		EGLint n = 0;
		if (!choose(display, want, &config, 1, &n) || n < 1) return;
		const EGLint size[] = {EGL_WIDTH, 64, EGL_HEIGHT, 1024, EGL_NONE};
		EGLSurface surface = make_surface(display, config, size);
		EGLContext context = make_context(display, config, EGL_NO_CONTEXT, nullptr);
		if (!surface || !context || !make_current(display, surface, surface, context)) return;

		glViewport(0, 0, 64, 1024);
		glMatrixMode(GL_PROJECTION);
		glLoadIdentity();
		glOrtho(0, 64, 0, 1024, -1, 1);
		glMatrixMode(GL_MODELVIEW);
		glLoadIdentity();
		ready = true;
	}
	~PixelContext()
	{
		if (display && terminate) terminate(display);
	}
	void clear()
	{
		glClearColor(0, 0, 0, 1);
		glClear(GL_COLOR_BUFFER_BIT);
	}
	int red_at(int x, int y)
	{
		unsigned char px[4] = {};
		glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px);
		return px[0];
	}

	bool ready = false;

private:
	void*               lib = nullptr;
	EGLDisplay          display = nullptr;
	PFNEGLTERMINATEPROC terminate = nullptr;
};

}  // namespace

// Drawn by Mesa and read back: 250 points 4 pixels wide, from the spectrum's
// start at the bottom to its end at the top, whichever way round low and high are.
TEST(Palette, PlotScaleDrawsTheSpectrumUpwards)
{
	PixelContext gl;
	if (!gl.ready) GTEST_SKIP() << "no headless OpenGL context";

	colr_class c;
	c.spectrum_init(1);  // red ramp: entry i has red i / 1000
	struct {
		float low, high;
	} ranges[] = {{0, 1}, {1, 0}, {-50, 75}};
	for (auto& r : ranges) {
		SCOPED_TRACE(testing::Message() << r.low << " .. " << r.high);
		gl.clear();
		c.spectrum_plotscale(10, 10, r.low, r.high, 2);
		EXPECT_EQ(c.spec_lo, r.low);
		EXPECT_EQ(c.spec_hi, r.high);
		EXPECT_EQ(c.spec_dif, r.high - r.low);
		for (int i = 0; i < 1000; i += 4) {
			int index = i * 1000 / 999;
			for (int dy : {-2, 1}) ASSERT_NEAR(gl.red_at(10, 10 + i + dy), index * 255 / 1000.0, 1.01) << i;
		}
		EXPECT_EQ(gl.red_at(7, 500), 0);  // 4 pixels wide: 8 to 11
		EXPECT_EQ(gl.red_at(12, 500), 0);
		EXPECT_EQ(gl.red_at(10, 7), 0);
		GLfloat size = 0;
		glGetFloatv(GL_POINT_SIZE, &size);
		EXPECT_EQ(size, 1.0f);
	}

	// No range, no scale (it would divide by zero and draw entry 0, red here).
	c.spectrum_init(0);
	gl.clear();
	c.spectrum_plotscale(10, 10, 3, 3, 2);
	EXPECT_EQ(c.spec_dif, 0.0f);
	for (int y = 0; y < 1024; y += 3) ASSERT_EQ(gl.red_at(10, y), 0) << y;
}
