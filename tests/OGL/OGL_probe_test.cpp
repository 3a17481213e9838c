// The capability probe fed with made-up drivers: every quirk, dependency, option
// and refusal, from the strings and limits a driver would report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "GenC/hl_globals.h"
#include "OGL/OGL_extensions.h"
#include "gl_test_context.h"
#include "zuz_test.h"

namespace {

// What the made-up driver answers.
struct fake_driver {
	std::string vendor = "Test Vendor", renderer = "Test Renderer", version = "2.1 Test", ext;
	bool null_strings = false;
	std::set<std::string> missing;
	int sysv = -1;  // -1: cannot be read
	int fp_instr = 200, vp_instr = 200;
	std::map<GLenum, int> ints = {{GL_MAX_TEXTURE_UNITS_ARB, 4}, {GL_MAX_TEXTURE_IMAGE_UNITS_ARB, 16},
	                              {GL_MAX_TEXTURE_COORDS_ARB, 8}, {GL_MAX_TEXTURE_SIZE, 2048}};
	float anisotropy = 16;
	std::vector<std::string> looked_up;
};
fake_driver* drv;

const GLubyte* fake_string(GLenum name)
{
	if (drv->null_strings) return nullptr;
	const std::string* s = name == GL_VENDOR     ? &drv->vendor
	                       : name == GL_RENDERER ? &drv->renderer
	                       : name == GL_VERSION  ? &drv->version
	                       : name == GL_EXTENSIONS ? &drv->ext
	                                               : nullptr;
	return s ? (const GLubyte*)s->c_str() : (const GLubyte*)"1.10";
}
void fake_integerv(GLenum pname, GLint* out)
{
	auto it = drv->ints.find(pname);
	if (it != drv->ints.end()) *out = it->second;
}
void fake_floatv(GLenum pname, GLfloat* out)
{
	if (pname == GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT) *out = drv->anisotropy;
	if (pname == GL_POINT_SIZE_RANGE) out[0] = 1, out[1] = 64;
}
void GLAPIENTRY fake_program_iv(GLenum target, GLenum pname, GLint* out)
{
	if (pname == GL_MAX_PROGRAM_NATIVE_INSTRUCTIONS_ARB)
		*out = target == GL_FRAGMENT_PROGRAM_ARB ? drv->fp_instr : drv->vp_instr;
	else
		*out = 7;
}
void fake_function() {}
OGL_proc fake_lookup(const char* name)
{
	drv->looked_up.push_back(name);
	if (drv->missing.count(name)) return nullptr;
	return strcmp(name, "glGetProgramivARB") == 0 ? (OGL_proc)fake_program_iv : fake_function;
}
int fake_gestalt(unsigned int selector, int* out)
{
	if (selector != 0x73797376 || drv->sysv < 0) return -1;
	*out = drv->sysv;
	return 0;
}
const OGL_probe_source fake_source = {fake_string, fake_integerv, fake_floatv, fake_lookup, fake_gestalt};

#define FLAG(name) {#name, &OGL_extensions::name}
const std::map<std::string, int OGL_extensions::*> flags = {
	FLAG(multitex_avail), FLAG(tex_clamp_avail), FLAG(add_env_avail),  FLAG(combine_avail),  FLAG(dis_fog_avail),
	FLAG(tex_comp_avail), FLAG(vbo_avail),       FLAG(pbo_avail),      FLAG(vprog_avail),    FLAG(fprog_avail),
	FLAG(automini_avail), FLAG(aniso_avail),     FLAG(fsaa_avail),     FLAG(sprites_avail),  FLAG(depth_tex_avail),
	FLAG(occlude_avail),  FLAG(shad_objs_avail), FLAG(vshader_avail),  FLAG(fshader_avail),  FLAG(gshader_avail),
	FLAG(glsl_avail),     FLAG(first_gen_shaders), FLAG(framebuf_avail), FLAG(sblend_avail), FLAG(threaded_avail),
};
#undef FLAG

// A case is the driver ("key=value": version, vendor, renderer, ext, missing,
// arg, sysv, fp, vp, units, image_units, null) and what must follow:
// "flag=0|1", "log:text" (in the log), "nolog:text", "units=n" (ren.num_tex_units
// after the probe), "alert:type:first line", "looked_up:name", "not_looked_up:name".
struct probe_case {
	const char* name;
	std::vector<std::string> driver;
	std::vector<std::string> expect;
};

const char* const pbo_line = "Disabling PBOs because VBOs are not available.  This probably means that VBOs are "
                             "disabled for compatibility reasons.\n";
const char* const arb_programs = "GL_ARB_vertex_program GL_ARB_fragment_program";
const std::string refusal = "Your graphics hardware cannot support Nimbara. Nimbara requires a graphics card with 16 MB "
                            "of VRAM and multitexturing.";

const std::string no_accel =
	"alert:1:I can not find a 3-D accelerator card that can handle OpenGL that has correctly installed drivers.";

const probe_case cases[] = {
	{"2.1 with a driver version sets every core flag without extensions",
	 {"version=2.1 NVIDIA-1.5.48", "vendor=NVIDIA Corporation"},
	 {"log:OpenGL Version   : 2.1 NVIDIA-1.5.48 (210)\n", "multitex_avail=1", "tex_clamp_avail=1", "pbo_avail=1",
	  "vbo_avail=1", "sprites_avail=1", "glsl_avail=1", "occlude_avail=1", "dis_fog_avail=0", "vprog_avail=0",
	  "aniso_avail=0", "framebuf_avail=0", "sblend_avail=0", "gshader_avail=0", "first_gen_shaders=1",
	  "log:glsl_avail       : 1 (1.10)\n"}},
	{"an unreadable version is 100 and only the extensions count",
	 {"version=OpenGL ES-CM 1.1", "ext=GL_ARB_multitexture GL_ARB_vertex_buffer_object GL_SGIS_texture_edge_clamp"},
	 {"log:(100)\n", "multitex_avail=1", "vbo_avail=1", "tex_clamp_avail=1", "pbo_avail=0", "combine_avail=0",
	  "glsl_avail=0", "log:glsl_avail       : 0 (n/a)\n", "alert:none"}},
	{"1.5 reads as 150", {"version=1.5.8 ATI"}, {"log:(150)\n", "vbo_avail=1", "occlude_avail=1", "pbo_avail=0"}},
	{"--no_vbos comes after the PBO check: no PBO line",
	 {"version=1.5", "ext=GL_ARB_pixel_buffer_object", "arg=--no_vbos"},
	 {"vbo_avail=0", "pbo_avail=0", std::string("nolog:") + pbo_line}},
	{"a missing buffer function costs VBOs, then PBOs",
	 {"version=1.4", "ext=GL_ARB_vertex_buffer_object GL_ARB_pixel_buffer_object", "missing=glMapBufferARB"},
	 {"log:WARNING: extension missing proc glMapBufferARB\n", std::string("log:") + pbo_line, "vbo_avail=0",
	  "pbo_avail=0", "looked_up:glGetBufferPointervARB"}},
	{"96 fragment instructions: programs stay, first-generation shaders",
	 {"version=1.5", std::string("ext=") + arb_programs, "fp=96"},
	 {"fprog_avail=1", "first_gen_shaders=1", "log:fprog_avail      : 1 (96/7/7/7)\n"}},
	{"no fragment instructions: no fragment programs", {"version=1.5", std::string("ext=") + arb_programs, "fp=0"},
	 {"fprog_avail=0", "first_gen_shaders=1", "vprog_avail=1"}},
	{"--use_fprogs keeps them", {"version=1.5", std::string("ext=") + arb_programs, "fp=0", "arg=--use_fprogs"},
	 {"fprog_avail=1", "first_gen_shaders=1"}},
	{"no vertex instructions: no vertex programs, fragment ones already checked",
	 {"version=1.5", std::string("ext=") + arb_programs, "vp=0"},
	 {"vprog_avail=0", "fprog_avail=1", "log:vprog_avail      : 0 (0)\n"}},
	{"--use_vprogs keeps them", {"version=1.5", std::string("ext=") + arb_programs, "vp=0", "arg=--use_vprogs"},
	 {"vprog_avail=1"}},
	{"fragment programs need vertex programs", {"version=1.5", "ext=GL_ARB_fragment_program"},
	 {"fprog_avail=0", "not_looked_up:glGetProgramivARB"}},
	{"Radeon HD by its whole name loses point sprites",
	 {"version=2.1", "renderer=ATI Radeon HD 2600 PRO OpenGL Engine"},
	 {"sprites_avail=0", "log:Disabling point sprites for Radeon HD on OS X.\n"}},
	{"the other Radeon HD too", {"version=2.1", "renderer=ATI Radeon HD 2400 XT OpenGL Engine"}, {"sprites_avail=0"}},
	{"a Radeon HD name with a trailing blank is another card",
	 {"version=2.1", "renderer=ATI Radeon HD 2600 PRO OpenGL Engine "},
	 {"sprites_avail=1", "nolog:Disabling point sprites"}},
	{"--use_sprites keeps them", {"version=2.1", "renderer=ATI Radeon HD 2600 PRO OpenGL Engine", "arg=--use_sprites"},
	 {"sprites_avail=1", "nolog:Disabling point sprites"}},
	{"NV34 on 10.3 loses occlusion queries",
	 {"version=1.5", "renderer=NVIDIA NV34MAP OpenGL Engine", "sysv=4153"},
	 {"occlude_avail=0", "log:Disabling occlusion queries on OS X 10.3 for nVidia.\n",
	  "not_looked_up:glGenQueriesARB"}},
	{"NV34 without a system version keeps them", {"version=1.5", "renderer=NVIDIA NV34MAP OpenGL Engine"},
	 {"occlude_avail=1", "nolog:Disabling occlusion"}},
	{"--use_pixel_counters keeps them",
	 {"version=1.5", "renderer=NVIDIA NV34MAP OpenGL Engine", "sysv=4153", "arg=--use_pixel_counters"},
	 {"occlude_avail=1", "nolog:Disabling occlusion"}},
	{"7300 GT before 10.4.9", {"version=1.5", "renderer=NVIDIA GeForce 7300 GT OpenGL Engine", "sysv=4168"},
	 {"occlude_avail=0", "log:Disabling occlusion queries on OS X 10.4 for nVidia 7300 GT on 10.4.8.\n"}},
	{"7300 GT from 10.4.9 on", {"version=1.5", "renderer=NVIDIA GeForce 7300 GT OpenGL Engine", "sysv=4169"},
	 {"occlude_avail=1", "nolog:Disabling occlusion"}},
	{"the 10.3 quirk skips the 10.4 one",
	 {"version=1.5", "renderer=NVIDIA NV34MAP OpenGL Engine / NVIDIA GeForce 7300 GT OpenGL Engine", "sysv=4153"},
	 {"occlude_avail=0", "log:OS X 10.3", "nolog:OS X 10.4"}},
	{"GMA 950 loses GLSL", {"version=2.0", "renderer=Intel GMA 950 OpenGL Engine"},
	 {"glsl_avail=0", "log:Disabling GLSL for GMA 950.\n", "units=4"}},
	{"--use_glsl keeps it", {"version=2.0", "renderer=Intel GMA 950 OpenGL Engine", "arg=--use_glsl"},
	 {"glsl_avail=1", "nolog:Disabling GLSL"}},
	{"NVIDIA with fragment program 2 is not first generation",
	 {"version=2.1", "vendor=NVIDIA Corporation", "ext=GL_NV_fragment_program2"}, {"first_gen_shaders=0"}},
	{"a missing shader-object function takes the shader flags with it",
	 {"version=2.1", "ext=GL_EXT_geometry_shader4", "missing=glUseProgramObjectARB"},
	 {"shad_objs_avail=0", "vshader_avail=0", "fshader_avail=0", "gshader_avail=0", "glsl_avail=0",
	  "log:WARNING: extension missing proc glUseProgramObjectARB\n", "looked_up:glGetShaderSourceARB",
	  "looked_up:glProgramParameteriEXT"}},
	{"separate blending needs both extensions", {"version=2.1", "ext=GL_EXT_blend_func_separate"},
	 {"sblend_avail=0", "not_looked_up:glBlendEquationSeparateEXT"}},
	{"no separate blend equation: the blend function is not looked up",
	 {"version=2.1", "ext=GL_EXT_blend_func_separate GL_EXT_blend_equation_separate",
	  "missing=glBlendEquationSeparateEXT"},
	 {"sblend_avail=0", "log:WARNING: extension missing proc glBlendEquationSeparateEXT\n",
	  "not_looked_up:glBlendFuncSeparateEXT"}},
	{"no separate blend function",
	 {"version=2.1", "ext=GL_EXT_blend_func_separate GL_EXT_blend_equation_separate",
	  "missing=glBlendFuncSeparateEXT"},
	 {"sblend_avail=0", "log:WARNING: extension missing proc glBlendFuncSeparateEXT\n"}},
	{"every switch-off option",
	 {"version=2.1", "ext=GL_ARB_vertex_program GL_ARB_fragment_program GL_EXT_texture_filter_anisotropic "
	                 "GL_EXT_framebuffer_object GL_EXT_blend_func_separate GL_EXT_blend_equation_separate",
	  "arg=--no_vbos", "arg=--no_sprites", "arg=--no_pixel_counters", "arg=--no_aniso_filtering",
	  "arg=--no_hw_mipmap", "arg=--no_glsl", "arg=--no_fbos", "arg=--no_threaded_ogl", "arg=--no_sblend",
	  "arg=--no_fshaders"},
	 {"vbo_avail=0", "pbo_avail=0", "sprites_avail=0", "occlude_avail=0", "aniso_avail=0", "automini_avail=0",
	  "glsl_avail=0", "framebuf_avail=0", "threaded_avail=0", "sblend_avail=0", "fprog_avail=0", "vprog_avail=1",
	  "log:max iso filtering: 1\n", "units=4"}},
	{"--no_vshaders does not carry on to fragment programs",
	 {"version=2.1", std::string("ext=") + arb_programs, "arg=--no_vshaders", "arg=--no_pbos"},
	 {"vprog_avail=0", "fprog_avail=1", "pbo_avail=0", "vbo_avail=1"}},
	{"anisotropy and the limits",
	 {"version=2.1", std::string("ext=GL_EXT_texture_filter_anisotropic ") + arb_programs},
	 {"log:max iso filtering: 16\n", "log:max tex units    : 4 (16/8)\n", "log:max texture size : 2048\n",
	  "log:max point size   : 64\n", "units=16"}},
	{"no fragment programs: image units and coordinates follow the units", {"version=1.3", "image_units=16"},
	 {"log:max tex units    : 4 (4/4)\n", "units=4"}},
	{"no units reported: one", {"version=1.3", "units=0"}, {"log:max tex units    : 1 (0/0)\n", "units=1"}},
	{"null strings are empty texts",
	 {"null=1", "arg=--force_run"},
	 {"log:OpenGL Vendor    : \nOpenGL Render    : \nOpenGL Version   :  (100)\nOpenGL Extensions: \n",
	  "multitex_avail=0", "alert:1:" + refusal}},
	{"--force_run turns the refusal into a warning after the report",
	 {"version=1.0", "arg=--force_run"},
	 {"log:max point size   : 64\n", "alert:1:" + refusal}},
	{"1.0 with the multitexture extension is enough", {"version=1.0", "ext=GL_ARB_multitexture"},
	 {"multitex_avail=1", "alert:none"}},
	{"1.1 without it is enough too", {"version=1.1"}, {"multitex_avail=0", "alert:none"}},
	{"a generic renderer is warned about", {"version=2.1", "renderer=GENERIC"}, {no_accel}},
	{"and the Mesa GLX indirect one", {"version=2.1", "renderer=Mesa GLX Indirect"}, {no_accel}},
	{"llvmpipe is not", {"version=2.1", "renderer=llvmpipe (LLVM 15.0.6, 256 bits)"}, {"alert:none"}},
	{"only whole names count", {"version=2.1", "renderer=Generic Renderer"}, {"alert:none"}},
};

// The probe writes the render settings; the tests that share the real context
// in this process need Mesa's back.
struct keep_ren {
	ren_class saved = ren;
	~keep_ren() { ren = saved; }
};

// Runs the probe on a fresh table against the made-up driver.
void probe(fake_driver& d, OGL_extensions& ext)
{
	drv = &d;
	ext.init_extensions(fake_source);
}

}  // namespace

TEST(Probe, MadeUpDrivers)
{
	for (const probe_case& c : cases) {
		SCOPED_TRACE(c.name);
		fake_driver d;
		std::vector<const char*> args;
		std::vector<std::string> arg_store;
		for (const std::string& kv : c.driver) {
			size_t eq = kv.find('=');
			std::string k = kv.substr(0, eq), v = kv.substr(eq + 1);
			if (k == "version") d.version = v;
			else if (k == "vendor") d.vendor = v;
			else if (k == "renderer") d.renderer = v;
			else if (k == "ext") d.ext = v;
			else if (k == "missing") d.missing.insert(v);
			else if (k == "arg") arg_store.push_back(v);
			else if (k == "sysv") d.sysv = std::stoi(v);
			else if (k == "fp") d.fp_instr = std::stoi(v);
			else if (k == "vp") d.vp_instr = std::stoi(v);
			else if (k == "units") d.ints[GL_MAX_TEXTURE_UNITS_ARB] = std::stoi(v);
			else if (k == "image_units") d.ints[GL_MAX_TEXTURE_IMAGE_UNITS_ARB] = std::stoi(v);
			else if (k == "null") d.null_strings = true;
			else FAIL() << "bad driver key " << k;
		}
		for (const std::string& a : arg_store) args.push_back(a.c_str());

		keep_ren keep;
		zuz_test::LogCapture log;
		zuz_test::AlertRecorder alerts;
		set_options(args);
		OGL_extensions ext;
		probe(d, ext);
		std::string text = log.text();

		EXPECT_EQ(ext.threaded_avail, 0);
		for (const std::string& e : c.expect) {
			size_t colon = e.find(':'), eq = e.find('=');
			std::string k = e.substr(0, std::min(colon, eq));
			if (k == "log") {
				EXPECT_NE(text.find(e.substr(4)), std::string::npos) << "missing in the log: " << e.substr(4);
			} else if (k == "nolog") {
				EXPECT_EQ(text.find(e.substr(6)), std::string::npos) << "in the log: " << e.substr(6);
			} else if (k == "units") {
				EXPECT_EQ(ren.num_tex_units, std::stoi(e.substr(6)));
			} else if (k == "alert") {
				if (e == "alert:none") {
					EXPECT_TRUE(alerts.alerts.empty()) << alerts.alerts[0].msg1;
				} else {
					ASSERT_EQ(alerts.alerts.size(), 1u);
					EXPECT_EQ(alerts.alerts[0].type, e[6] - '0');
					EXPECT_EQ(alerts.alerts[0].msg1, e.substr(8));
					EXPECT_EQ(alerts.alerts[0].file, "ZUzuvir/OGL/OGL_extensions");
					// The report is already written when the alert shows.
					EXPECT_NE(text.find("max point size   : "), std::string::npos);
				}
			} else if (k == "looked_up" || k == "not_looked_up") {
				std::string name = e.substr(colon + 1);
				bool asked = std::find(d.looked_up.begin(), d.looked_up.end(), name) != d.looked_up.end();
				EXPECT_EQ(asked, k == "looked_up") << name;
			} else {
				ASSERT_TRUE(flags.count(k)) << "bad expectation " << e;
				EXPECT_EQ(ext.*flags.at(k), std::stoi(e.substr(eq + 1))) << k;
			}
		}
	}
	set_options({});
}

TEST(Probe, AlertTextsOfTheWarnings)
{
	keep_ren keep;
	zuz_test::LogCapture log;
	zuz_test::AlertRecorder alerts;
	set_options({"--force_run"});
	fake_driver d;
	d.version = "1.0";
	d.renderer = "generic";
	OGL_extensions ext;
	probe(d, ext);
	set_options({});
	ASSERT_EQ(alerts.alerts.size(), 2u);  // the hardware first, then the renderer
	const MACIBM_alert_rec& hw = alerts.alerts[0];
	EXPECT_EQ(hw.msg2, "Your system does not meet Nimbara's hardware requirements.");
	EXPECT_EQ(hw.msg3, "You have used the force-run command inline option to run Nimbara anyway, but it may crash.");
	EXPECT_NE(hw.msg4.find("system requirements"), std::string::npos);
	const MACIBM_alert_rec& sw = alerts.alerts[1];
	EXPECT_EQ(sw.type, t_alert);
	EXPECT_EQ(sw.msg2, "I will still let you run the simulator, but the frame rate will NOT allow for a good simulation.");
	EXPECT_NE(sw.msg3.find("3-D accelerator card that can handle OpenGL"), std::string::npos);
	EXPECT_NE(sw.msg4.find("compatible 3-D video cards"), std::string::npos);
	EXPECT_NE(hw.line, sw.line);
}

TEST(Probe, ThreadedFailureWarnsOnlyWhileThreadsWereOn)
{
	keep_ren keep;
	zuz_test::LogCapture log;
	zuz_test::AlertRecorder alerts;
	OGL_extensions fresh;
	fresh.threaded_ogl_failed();
	fresh.threaded_ogl_failed();
	ASSERT_EQ(alerts.alerts.size(), 1u);
	EXPECT_EQ(alerts.alerts[0].msg1, "There was a problem setting up OpenGL.");
	EXPECT_EQ(alerts.alerts[0].msg3, "");
	EXPECT_EQ(alerts.alerts[0].msg4, "(Please send your log.txt file to Quillon Dynamics for debugging purposes.)");

	set_options({});
	fake_driver d;
	OGL_extensions probed;
	probe(d, probed);
	probed.threaded_ogl_failed();
	EXPECT_EQ(alerts.alerts.size(), 1u);
}

TEST(ProbeDeathTest, NoMultitexturingEndsTheProgram)
{
	fake_driver d;
	d.version = "1.0";
	d.ext = "GL_ARB_vertex_buffer_object";
	OGL_extensions ext;
	set_options({});
	EXPECT_EXIT(probe(d, ext), testing::ExitedWithCode(1),
	            "FATAL ERROR \\(ZUzuvir/OGL/OGL_extensions, line [0-9]+\\)\n"
	            "Your graphics hardware cannot support Nimbara. Nimbara requires a graphics card with 16 MB of VRAM "
	            "and multitexturing.\n"
	            "First, try updating your graphics drivers.\n"
	            "If this does not help, check your graphics card specifications.\n"
	            "For tech support, email support@example\\.com\n");
}
