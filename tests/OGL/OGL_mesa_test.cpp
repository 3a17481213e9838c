// The context and the probe on the real Mesa: headless, in an X11 window under
// Xvfb, and in the program itself.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "GenC/MACIBM_context.h"
#include "GenC/hl_globals.h"
#include "OGL/OGL_extensions.h"
#include "OGL/OGL_setstate.h"
#include "Platform/plat_gl.h"
#include "gl_test_context.h"
#include "tex_readback.h"
#include "zuz_test.h"

extern char** environ;

static std::string gl_string(GLenum name)
{
	const GLubyte* s = glGetString(name);
	return s ? (const char*)s : "";
}

static GLint gl_int(GLenum name)
{
	GLint v = 0;
	glGetIntegerv(name, &v);
	return v;
}

TEST(MesaProbe, ReportsWhatMesaReports)
{
	gl_test_context();
	zuz_test::LogCapture log;
	set_options({});
	OGL_extensions ext;
	ext.init_extensions();

	// The version as the context states it in numbers, not in its text.
	const int version = gl_int(GL_MAJOR_VERSION) * 100 + gl_int(GL_MINOR_VERSION) * 10;
	ASSERT_GE(version, 210);
	EXPECT_NE(gl_string(GL_VERSION).find("(Compatibility Profile)"), std::string::npos);

	static const char* const prefixes[] = {
		"OpenGL Vendor    : ", "OpenGL Render    : ", "OpenGL Version   : ", "OpenGL Extensions: ",
		"tex_clamp_avail  : ", "add_env_avail    : ", "combine_avail    : ", "dis_fog_avail    : ",
		"tex_comp_avail   : ", "vbo_avail        : ", "pbo_avail        : ", "vprog_avail      : ",
		"fprog_avail      : ", "automini_avail   : ", "aniso_avail      : ", "fsaa_avail       : ",
		"sprites_avail    : ", "depth_tex_avail  : ", "occlude_avail    : ", "shad_objs_avail  : ",
		"vshader_avail    : ", "fshader_avail    : ", "gshader_avail    : ", "glsl_avail       : ",
		"framebuf_avail   : ", "sblend_avail     : ", "threaded_avail   : ", "first-gen shaders: ",
		"max tex units    : ", "max iso filtering: ", "max texture size : ", "max point size   : "};
	const std::vector<std::string> lines = zuz_test::lines_of(log.text());
	ASSERT_EQ(lines.size(), std::size(prefixes)) << log.text();
	for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].rfind(prefixes[i], 0), 0u) << lines[i];

	EXPECT_EQ(lines[0], "OpenGL Vendor    : " + gl_string(GL_VENDOR));
	EXPECT_EQ(lines[1], "OpenGL Render    : " + gl_string(GL_RENDERER));
	EXPECT_EQ(lines[2], "OpenGL Version   : " + gl_string(GL_VERSION) + " (" + std::to_string(version) + ")");
	EXPECT_EQ(ren.gl_extensions, (const char*)glGetString(GL_EXTENSIONS));  // OpenGL's own text, not a copy

	// Every core flag is on from 2.1; llvmpipe has all the extension-only
	// features but the EXT geometry shaders, and a full fragment-program budget.
	for (int i : {4, 5, 6, 7, 8, 9, 10, 13, 14, 15, 16, 17, 18, 19, 24, 25}) EXPECT_EQ(lines[i].substr(19), "1") << lines[i];
	for (int i : {22, 26, 27}) EXPECT_EQ(lines[i].substr(19), "0") << lines[i];
	EXPECT_EQ(lines[11].substr(0, 22), "vprog_avail      : 1 (");
	EXPECT_EQ(lines[12].substr(0, 22), "fprog_avail      : 1 (");
	EXPECT_EQ(ext.multitex_avail, 1);

	const GLint units = gl_int(GL_MAX_TEXTURE_UNITS_ARB), images = gl_int(GL_MAX_TEXTURE_IMAGE_UNITS_ARB);
	EXPECT_EQ(units, 8);
	EXPECT_EQ(lines[28], "max tex units    : " + std::to_string(units) + " (" + std::to_string(images) + "/" +
	                         std::to_string(gl_int(GL_MAX_TEXTURE_COORDS_ARB)) + ")");
	EXPECT_EQ(ren.num_tex_units, std::max(units, images));  // GLSL counts the image units
	EXPECT_EQ(lines[30], "max texture size : " + std::to_string(gl_int(GL_MAX_TEXTURE_SIZE)));
	EXPECT_EQ(ext.max_tex_size, gl_int(GL_MAX_TEXTURE_SIZE));
	EXPECT_NE(strstr(ren.gl_extensions, "GL_EXT_texture_compression_s3tc"), nullptr);

	// The pointers are Mesa's functions, not placeholders.
	GLuint buf = 0;
	ext.glGenBuffersARB(1, &buf);
	ext.glBindBufferARB(GL_ARRAY_BUFFER_ARB, buf);
	EXPECT_TRUE(ext.glIsBufferARB(buf));
	ext.glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
	ext.glDeleteBuffersARB(1, &buf);
	EXPECT_FALSE(ext.glIsBufferARB(buf));
	EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST(MesaProbe, LookupAnswersOnlyForOpenGLNames)
{
	gl_test_context();
	EXPECT_NE(gBundleRefOpenGL, nullptr);
	// Every entry point the capability layer asks for...
#define OGL_ENTRY(name, type) EXPECT_NE(aglGetProcAddress(#name), nullptr) << #name;
#include "OGL/OGL_entry_points.inc"
#undef OGL_ENTRY
	// ...but nothing for a name the library does not have.
	for (const char* name : {"glNoSuchFunctionXYZ", "CGLDisable", "CGLEnable", "CGLGetCurrentContext",
	                         "eglGetProcAddress", "", "Gl"})
		EXPECT_EQ(aglGetProcAddress(name), nullptr) << name;
	EXPECT_EQ(aglGetProcAddress(nullptr), nullptr);
	int v = 7;
	EXPECT_NE(Gestalt(0x73797376, &v), 0);
	EXPECT_EQ(v, 7);
}

TEST(GlContext, HeadlessWindowDrawsFixedFunction)
{
	gl_test_context();
	EXPECT_EQ(mnw.pix_dx, 1024);
	EXPECT_EQ(mnw.pix_dy, 768);
	EXPECT_EQ(mnw.pix_depth, 32);
	EXPECT_TRUE(gl_int(GL_CONTEXT_PROFILE_MASK) & GL_CONTEXT_COMPATIBILITY_PROFILE_BIT);
	EXPECT_FALSE(gl_depth_writes_at_creation);  // what the state cache assumes

	// An immediate-mode quad over the left half of the pbuffer, read back.
	OGL_setstate(1, 0, 3, 4, 9, 11);
	tex_test::pixel_projection(1024, 768);
	glClearColor(0, 0, 1, 1);
	glClear(GL_COLOR_BUFFER_BIT);
	glColor3f(1, 0, 0);
	glBegin(GL_QUADS);
	glVertex2f(0, 0), glVertex2f(512, 0), glVertex2f(512, 768), glVertex2f(0, 768);
	glEnd();
	unsigned char left[4] = {}, right[4] = {};
	glReadPixels(100, 384, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, left);
	glReadPixels(1000, 700, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, right);
	EXPECT_TRUE(left[0] == 255 && left[2] == 0) << (int)left[0] << "," << (int)left[2];
	EXPECT_TRUE(right[0] == 0 && right[2] == 255) << (int)right[0] << "," << (int)right[2];
	plat_gl_swap_buffers();  // nothing to present on a pbuffer, and no harm done
	EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST(GlContext, WorkerContextSharesTheWindowsObjects)
{
	gl_test_context();
	GLuint tex = 0;
	glGenTextures(1, &tex);
	glBindTexture(GL_TEXTURE_2D, tex);
	const unsigned char pixel[4] = {1, 2, 3, 4};
	glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
	glBindTexture(GL_TEXTURE_2D, 0);
	glFinish();

	AGLContext worker = MACIBM_make_context_loader();
	ASSERT_NE(worker, nullptr);
	bool current = false, shared = false;
	std::thread t([&] {
		current = MACIBM_set_context_loader(worker);
		shared = current && glIsTexture(tex);
		plat_gl_make_current(nullptr);
	});
	t.join();
	EXPECT_TRUE(current);
	EXPECT_TRUE(shared);
	EXPECT_FALSE(MACIBM_set_context_loader(nullptr));
	glDeleteTextures(1, &tex);
}

// Runs in a child process: the window's context in an X11 window.
static void draw_in_x11_window()
{
	zuz_test::LogCapture log;
	MACIBM_make_context();
	std::string failures;
	if (log.text().find("OpenGL window    : X11 window 1024 x 768") == std::string::npos) failures += log.text();
	if (mnw.pix_dx != 1024 || mnw.pix_dy != 768) failures += "window size\n";
	if (!(gl_int(GL_CONTEXT_PROFILE_MASK) & GL_CONTEXT_COMPATIBILITY_PROFILE_BIT)) failures += "not compatibility\n";
	glClearColor(0.2f, 0.4f, 0.6f, 1);
	glClear(GL_COLOR_BUFFER_BIT);
	unsigned char px[4] = {};
	glReadPixels(512, 384, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px);
	if (abs(px[0] - 51) > 1 || abs(px[1] - 102) > 1 || abs(px[2] - 153) > 1) failures += "read back\n";
	plat_gl_swap_buffers();
	if (glGetError() != GL_NO_ERROR) failures += "GL error\n";
	if (!MACIBM_make_context_loader()) failures += "no worker context\n";
	MACIBM_dispose_contexts();
	fprintf(stderr, "%s", failures.empty() ? "x11 ok\n" : failures.c_str());
	fflush(stderr);
	_exit(failures.empty() ? 0 : 3);
}

TEST(GlContextDeathTest, X11WindowUnderXvfb)
{
	zuz_test::Xvfb xvfb;
	if (xvfb.shared_display().empty()) GTEST_SKIP() << "Xvfb cannot start here";
	EXPECT_EXIT(draw_in_x11_window(), testing::ExitedWithCode(0), "x11 ok");
	zuz_test::Xvfb::release();
}

// The program itself, headless, copied into a folder of its own.
TEST(GlProgram, StartUpLogsTheReportOrRefusesTheHardware)
{
	struct program_case {
		const char* name;
		const char* env;
		const char* args;
		int exit;
		std::vector<const char*> output, log;
	};
	const char* const old_mesa = "MESA_GL_VERSION_OVERRIDE=1.0 MESA_EXTENSION_OVERRIDE=-GL_ARB_multitexture";
	const program_case cases[] = {
		{"a normal start", "", "", 0, {},
		 {"OpenGL window    : pbuffer 1024 x 768 x 32 on the surfaceless platform",
		  "(Compatibility Profile)", "max point size   : "}},
		{"version 1.0 without multitexturing is refused", old_mesa, "", 1,
		 {"FATAL ERROR (ZUzuvir/OGL/OGL_extensions, line ", "Your graphics hardware cannot support Nimbara.",
		  "For tech support, email "},
		 {"OpenGL Version   : 1.0 Mesa", " (100)\n", "max point size   : ",
		  "\nYour graphics hardware cannot support Nimbara. Nimbara requires a graphics card with 16 MB of VRAM and "
		  "multitexturing.\nFirst, try updating your graphics drivers.\n"
		  "If this does not help, check your graphics card specifications.\n"
		  "For tech support, email support@example.com\n"}},
		{"--force_run goes on with a warning", old_mesa, "--force_run", 0,
		 {"ALERT (ZUzuvir/OGL/OGL_extensions, line ", "Your graphics hardware cannot support Nimbara.",
		  "Your system does not meet Nimbara's hardware requirements.",
		  "Please see www.example.com for system requirements and tech support information."},
		 {" (100)\n", "max point size   : ",
		  "\nYour graphics hardware cannot support Nimbara. Nimbara requires a graphics card with 16 MB of VRAM and "
		  "multitexturing.\nYour system does not meet Nimbara's hardware requirements.\n"}},
		// Mesa's version override alone still lists GL_ARB_multitexture.
		{"version 1.0 with the multitexture extension runs", "MESA_GL_VERSION_OVERRIDE=1.0", "", 0, {}, {" (100)\n"}},
	};
	for (const program_case& c : cases) {
		SCOPED_TRACE(c.name);
		zuz_test::TempDir dir;
		const std::string exe = dir / "nimbara_installer";
		ASSERT_EQ(zuz_test::run("cp '" ZUZ_INSTALLER_EXE "' '" + exe + "'"), 0);
		std::string out;
		int status = zuz_test::run(std::string("env -u DISPLAY ") + c.env + " '" + exe + "' " + c.args + " </dev/null 2>&1", &out);
		EXPECT_EQ(status, c.exit) << out;
		for (const char* s : c.output) EXPECT_NE(out.find(s), std::string::npos) << s << "\n" << out;
		std::string log = zuz_test::read_file(dir / "Log.txt");
		size_t last = 0;
		for (const char* s : c.log) {  // in this order
			size_t at = log.find(s, last);
			EXPECT_NE(at, std::string::npos) << s;
			if (at != std::string::npos) last = at;
		}
	}
}
