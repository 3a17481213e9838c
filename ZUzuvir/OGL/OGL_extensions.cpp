#include "OGL/OGL_extensions.h"

#include <cstdio>
#include <cstring>

#include "Files/io_utils.h"
#include "GenC/MACIBM_alert.h"
#include "GenC/hl_globals.h"
#include "GenH/hl_types.h"
#include "Platform/plat_gl.h"
#include "UTL/UTL_cmdline.h"

OGL_extensions glExt;
void* gBundleRefOpenGL = nullptr;

static const char* const src_file = "ZUzuvir/OGL/OGL_extensions";
enum { line_no_multitex = 412, line_force_run = 421, line_software = 436, line_threaded = 461 };

const OGL_probe_source OGL_current_context = {glGetString, glGetIntegerv, glGetFloatv, aglGetProcAddress, Gestalt};

const unsigned int gestaltSystemVersion = 0x73797376;  // 'sysv'

// The entry points by slot: their names, and a setter for each member.
static const char* const slot_name[] = {
#define OGL_ENTRY(name, type) #name,
#include "OGL/OGL_entry_points.inc"
#undef OGL_ENTRY
};
typedef void (*slot_setter)(OGL_extensions& e, OGL_proc p);
static const slot_setter slot_set[] = {
#define OGL_ENTRY(name, type) [](OGL_extensions& e, OGL_proc p) { e.name = (type)p; },
#include "OGL/OGL_entry_points.inc"
#undef OGL_ENTRY
};
static_assert(sizeof(slot_name) / sizeof(slot_name[0]) == 150, "150 entry-point slots");

OGL_extensions::OGL_extensions()
{
#define OGL_ENTRY(name, type) name = nullptr;
#include "OGL/OGL_entry_points.inc"
#undef OGL_ENTRY
	multitex_avail = tex_clamp_avail = add_env_avail = combine_avail = dis_fog_avail = tex_comp_avail = 0;
	vbo_avail = pbo_avail = vprog_avail = fprog_avail = automini_avail = aniso_avail = fsaa_avail = 0;
	sprites_avail = depth_tex_avail = occlude_avail = shad_objs_avail = vshader_avail = fshader_avail = 0;
	gshader_avail = glsl_avail = first_gen_shaders = framebuf_avail = sblend_avail = 0;
	threaded_avail = 1;
	max_tex_size = 0;
}

int OGL_extensions::init_entry_points()
{
	return load_bundle_by_filename("OpenGL.framework", 1, &gBundleRefOpenGL);
}

OGL_proc aglGetProcAddress(const char* name)
{
	if (!name || strncmp(name, "gl", 2) != 0) return nullptr;
	return (OGL_proc)plat_gl_proc_address(name, gBundleRefOpenGL);
}

// A driver may answer null (no current context, a core profile): that is no text.
static const char* gl_text(const OGL_probe_source& src, GLenum name)
{
	const GLubyte* s = src.get_string(name);
	return s ? (const char*)s : "";
}

static int version_number(const char* v)
{
	int major = 0, minor = 0;
	if (sscanf(v, "%d.%d", &major, &minor) == 2) return major * 100 + minor * 10;
	static const struct {
		const char* prefix;
		int         number;
	} known[] = {{"1.1", 110}, {"1.2", 120}, {"1.3", 130}, {"1.4", 140}, {"1.5", 150}, {"2.0", 200}, {"2.1", 210}};
	for (const auto& k : known)
		if (strncmp(v, k.prefix, 3) == 0) return k.number;
	return 100;
}

// A flag is on from its core version (0: never core), or when the extension
// string holds one of its names.
struct flag_rule {
	int OGL_extensions::*flag;
	int                  core;
	const char*          ext1;
	const char*          ext2;
};
static const flag_rule flag_rules[] = {
	{&OGL_extensions::multitex_avail, 130, "GL_ARB_multitexture", nullptr},
	{&OGL_extensions::tex_clamp_avail, 120, "GL_EXT_texture_edge_clamp", "GL_SGIS_texture_edge_clamp"},
	{&OGL_extensions::add_env_avail, 130, "GL_ARB_texture_env_add", "GL_EXT_texture_env_add"},
	{&OGL_extensions::combine_avail, 130, "GL_ARB_texture_env_combine", "GL_EXT_texture_env_combine"},
	{&OGL_extensions::dis_fog_avail, 0, "GL_NV_fog_distance", nullptr},
	{&OGL_extensions::tex_comp_avail, 130, "GL_ARB_texture_compression", nullptr},
	{&OGL_extensions::vbo_avail, 150, "GL_ARB_vertex_buffer_object", nullptr},
	{&OGL_extensions::pbo_avail, 210, "GL_ARB_pixel_buffer_object", nullptr},
	{&OGL_extensions::vprog_avail, 0, "GL_ARB_vertex_program", nullptr},
	{&OGL_extensions::fprog_avail, 0, "GL_ARB_fragment_program", nullptr},
	{&OGL_extensions::automini_avail, 140, "GL_SGIS_generate_mipmap", nullptr},
	{&OGL_extensions::aniso_avail, 0, "GL_EXT_texture_filter_anisotropic", nullptr},
	{&OGL_extensions::fsaa_avail, 130, "GL_ARB_multisample", nullptr},
	{&OGL_extensions::sprites_avail, 200, "GL_ARB_point_sprite", nullptr},
	{&OGL_extensions::depth_tex_avail, 140, "GL_ARB_depth_texture", nullptr},
	{&OGL_extensions::occlude_avail, 150, "GL_ARB_occlusion_query", nullptr},
	{&OGL_extensions::shad_objs_avail, 200, "GL_ARB_shader_objects", nullptr},
	{&OGL_extensions::vshader_avail, 200, "GL_ARB_vertex_shader", nullptr},
	{&OGL_extensions::fshader_avail, 200, "GL_ARB_fragment_shader", nullptr},
	{&OGL_extensions::gshader_avail, 0, "GL_EXT_geometry_shader4", nullptr},
	{&OGL_extensions::glsl_avail, 200, "GL_ARB_shading_language_100", nullptr},
	{&OGL_extensions::framebuf_avail, 0, "GL_EXT_framebuffer_object", nullptr},
};

// Looks up slots first..last while `flag` is set. Every one is looked up even
// after a miss; each miss is logged and costs the flag.
static void load_group(OGL_extensions& e, const OGL_probe_source& src, int first, int last, int& flag)
{
	if (!flag) return;
	for (int s = first; s <= last; ++s) {
		OGL_proc p = src.lookup(slot_name[s]);
		slot_set[s](e, p);
		if (!p) {
			xer << "WARNING: extension missing proc " << slot_name[s] << "\n";
			flag = 0;
		}
	}
}

static GLint get_int(const OGL_probe_source& src, GLenum pname)
{
	GLint v = 0;
	src.get_integerv(pname, &v);
	return v;
}

static GLint program_limit(const OGL_extensions& e, GLenum target, GLenum pname)
{
	GLint v = 0;
	if (e.glGetProgramivARB) e.glGetProgramivARB(target, pname, &v);
	return v;
}

void OGL_extensions::init_extensions(const OGL_probe_source& src)
{
	// 1-2. The strings, and the version as major * 100 + minor * 10.
	ren.gl_vendor = gl_text(src, GL_VENDOR);
	ren.gl_renderer = gl_text(src, GL_RENDERER);
	ren.gl_version = gl_text(src, GL_VERSION);
	ren.gl_extensions = gl_text(src, GL_EXTENSIONS);
	const char* const vendor = ren.gl_vendor;
	const char* const renderer = ren.gl_renderer;
	const char* const ext = ren.gl_extensions;
	const int version = version_number(ren.gl_version);

	// 3. Flags from the version and the extension string.
	for (const flag_rule& r : flag_rules)
		this->*r.flag = (r.core && version >= r.core) || strstr(ext, r.ext1) || (r.ext2 && strstr(ext, r.ext2));
	sblend_avail = strstr(ext, "GL_EXT_blend_func_separate") && strstr(ext, "GL_EXT_blend_equation_separate");

	// 4. Driver quirks. Linux reports no system version, so the first two never apply there.
	int sysv = 0;
	const bool sysv_ok = src.gestalt(gestaltSystemVersion, &sysv) == 0;
	const bool use_pixel_counters = cmdline.has_option("--use_pixel_counters");
	if (occlude_avail && sysv_ok && sysv < 0x1040 && strstr(renderer, "NVIDIA NV34MAP OpenGL Engine") &&
	    !use_pixel_counters) {
		xer << "Disabling occlusion queries on OS X 10.3 for nVidia.\n";
		occlude_avail = 0;
	} else if (occlude_avail && sysv_ok && sysv < 0x1049 && strstr(renderer, "NVIDIA GeForce 7300 GT OpenGL Engine") &&
	           !use_pixel_counters) {
		xer << "Disabling occlusion queries on OS X 10.4 for nVidia 7300 GT on 10.4.8.\n";
		occlude_avail = 0;
	}
	if (glsl_avail && strstr(renderer, "Intel GMA 950 OpenGL Engine") && !cmdline.has_option("--use_glsl")) {
		xer << "Disabling GLSL for GMA 950.\n";
		glsl_avail = 0;
	}
	if (sprites_avail &&
	    (strcmp(renderer, "ATI Radeon HD 2600 PRO OpenGL Engine") == 0 ||
	     strcmp(renderer, "ATI Radeon HD 2400 XT OpenGL Engine") == 0) &&
	    !cmdline.has_option("--use_sprites")) {
		xer << "Disabling point sprites for Radeon HD on OS X.\n";
		sprites_avail = 0;
	}
	if (glsl_avail && strstr(vendor, "NVIDIA") && !strstr(ext, "GL_NV_fragment_program2")) first_gen_shaders = 1;

	// 5. Entry points, group by group.
	load_group(*this, src, 0, 10, vbo_avail);
	if (pbo_avail && !vbo_avail) {
		xer << "Disabling PBOs because VBOs are not available.  This probably means that VBOs are disabled for "
		       "compatibility reasons.\n";
		pbo_avail = 0;
	}
	load_group(*this, src, 11, 72, vprog_avail);
	load_group(*this, src, 73, 80, occlude_avail);
	load_group(*this, src, 81, 119, shad_objs_avail);
	load_group(*this, src, 123, 123, gshader_avail);
	load_group(*this, src, 120, 122, vshader_avail);
	load_group(*this, src, 124, 140, framebuf_avail);
	load_group(*this, src, 141, 147, tex_comp_avail);
	load_group(*this, src, 149, 149, sblend_avail);
	load_group(*this, src, 148, 148, sblend_avail);

	// 6. Dependencies.
	if (!vprog_avail) fprog_avail = 0;
	if (!shad_objs_avail) fshader_avail = 0;
	if (!shad_objs_avail) vshader_avail = 0;
	if (!shad_objs_avail) gshader_avail = 0;
	if (!vshader_avail || !fshader_avail) glsl_avail = 0;

	// 7. Assembly-program limits.
	GLint fp_instr = 0, fp_alu = 0, fp_tex = 0, fp_indir = 0, vp_instr = 0;
	if (fprog_avail) {
		fp_instr = program_limit(*this, GL_FRAGMENT_PROGRAM_ARB, GL_MAX_PROGRAM_NATIVE_INSTRUCTIONS_ARB);
		fp_alu = program_limit(*this, GL_FRAGMENT_PROGRAM_ARB, GL_MAX_PROGRAM_NATIVE_ALU_INSTRUCTIONS_ARB);
		fp_tex = program_limit(*this, GL_FRAGMENT_PROGRAM_ARB, GL_MAX_PROGRAM_NATIVE_TEX_INSTRUCTIONS_ARB);
		fp_indir = program_limit(*this, GL_FRAGMENT_PROGRAM_ARB, GL_MAX_PROGRAM_NATIVE_TEX_INDIRECTIONS_ARB);
		if (fp_instr == 0 && !cmdline.has_option("--use_fprogs")) fprog_avail = 0;
		if (fp_instr <= 99) first_gen_shaders = 1;
	}
	if (vprog_avail) {
		vp_instr = program_limit(*this, GL_VERTEX_PROGRAM_ARB, GL_MAX_PROGRAM_NATIVE_INSTRUCTIONS_ARB);
		if (vp_instr == 0 && !cmdline.has_option("--use_vprogs")) vprog_avail = 0;
	}

	// 8. Shader limits.
	GLint v_attribs = 0, v_uniforms = 0, varyings = 0, combined_units = 0, v_units = 0, f_uniforms = 0;
	if (vshader_avail) {
		v_attribs = get_int(src, GL_MAX_VERTEX_ATTRIBS_ARB);
		v_uniforms = get_int(src, GL_MAX_VERTEX_UNIFORM_COMPONENTS_ARB);
		varyings = get_int(src, GL_MAX_VARYING_FLOATS_ARB);
		combined_units = get_int(src, GL_MAX_COMBINED_TEXTURE_IMAGE_UNITS_ARB);
		v_units = get_int(src, GL_MAX_VERTEX_TEXTURE_IMAGE_UNITS_ARB);
	}
	if (fshader_avail) f_uniforms = get_int(src, GL_MAX_FRAGMENT_UNIFORM_COMPONENTS_ARB);
	const char* glsl_version = "n/a";
	if (glsl_avail) {
		const GLubyte* s = src.get_string(GL_SHADING_LANGUAGE_VERSION_ARB);
		glsl_version = s ? (const char*)s : "<null string>";
	}

	// 9. Texture limits.
	ren.max_anisotropy = 1.0f;
	ren.num_tex_units = 0;
	ren.num_tex_units = get_int(src, GL_MAX_TEXTURE_UNITS_ARB);
	ren.num_image_units = fprog_avail ? get_int(src, GL_MAX_TEXTURE_IMAGE_UNITS_ARB) : ren.num_tex_units;
	ren.num_tex_coords = vprog_avail ? get_int(src, GL_MAX_TEXTURE_COORDS_ARB) : ren.num_tex_units;
	if (aniso_avail) src.get_floatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &ren.max_anisotropy);
	max_tex_size = get_int(src, GL_MAX_TEXTURE_SIZE);
	GLfloat point_range[2] = {0, 0};
	src.get_floatv(GL_POINT_SIZE_RANGE, point_range);
	if (ren.num_tex_units == 0) ren.num_tex_units = 1;

	// 10. Options. They come after the dependencies on purpose: they do not carry over.
	if (cmdline.has_option("--no_vbos")) vbo_avail = pbo_avail = 0;
	if (cmdline.has_option("--no_pbos")) pbo_avail = 0;
	if (cmdline.has_option("--no_sprites")) sprites_avail = 0;
	if (cmdline.has_option("--no_pixel_counters")) occlude_avail = 0;
	if (cmdline.has_option("--no_aniso_filtering")) {
		aniso_avail = 0;
		ren.max_anisotropy = 1.0f;
	}
	if (cmdline.has_option("--no_hw_mipmap")) automini_avail = 0;
	if (cmdline.has_option("--no_vshaders")) vprog_avail = 0;
	if (cmdline.has_option("--no_fshaders")) fprog_avail = 0;
	if (cmdline.has_option("--no_glsl")) glsl_avail = 0;
	if (cmdline.has_option("--no_fbos")) framebuf_avail = 0;
	if (cmdline.has_option("--no_threaded_ogl")) threaded_avail = 0;
	if (cmdline.has_option("--no_sblend")) sblend_avail = 0;

	// 11. Multi-threaded OpenGL is never used.
	threaded_avail = 0;

	// 12. The report.
	xer << "OpenGL Vendor    : " << vendor << "\n";
	xer << "OpenGL Render    : " << renderer << "\n";
	xer << "OpenGL Version   : " << ren.gl_version << " (" << version << ")\n";
	xer << "OpenGL Extensions: " << ext << "\n";
	xer << "tex_clamp_avail  : " << tex_clamp_avail << "\n";
	xer << "add_env_avail    : " << add_env_avail << "\n";
	xer << "combine_avail    : " << combine_avail << "\n";
	xer << "dis_fog_avail    : " << dis_fog_avail << "\n";
	xer << "tex_comp_avail   : " << tex_comp_avail << "\n";
	xer << "vbo_avail        : " << vbo_avail << "\n";
	xer << "pbo_avail        : " << pbo_avail << "\n";
	xer << "vprog_avail      : " << vprog_avail << " (" << vp_instr << ")\n";
	xer << "fprog_avail      : " << fprog_avail << " (" << fp_instr << "/" << fp_alu << "/" << fp_tex << "/"
	    << fp_indir << ")\n";
	xer << "automini_avail   : " << automini_avail << "\n";
	xer << "aniso_avail      : " << aniso_avail << "\n";
	xer << "fsaa_avail       : " << fsaa_avail << "\n";
	xer << "sprites_avail    : " << sprites_avail << "\n";
	xer << "depth_tex_avail  : " << depth_tex_avail << "\n";
	xer << "occlude_avail    : " << occlude_avail << "\n";
	xer << "shad_objs_avail  : " << shad_objs_avail << "\n";
	xer << "vshader_avail    : " << vshader_avail << " (" << v_attribs << "/" << v_uniforms << "/" << varyings << "/"
	    << combined_units << "/" << v_units << "/" << f_uniforms << ")\n";
	xer << "fshader_avail    : " << fshader_avail << " (" << f_uniforms << ")\n";
	xer << "gshader_avail    : " << gshader_avail << "\n";
	xer << "glsl_avail       : " << glsl_avail << " (" << glsl_version << ")\n";
	xer << "framebuf_avail   : " << framebuf_avail << "\n";
	xer << "sblend_avail     : " << sblend_avail << "\n";
	xer << "threaded_avail   : " << threaded_avail << "\n";
	xer << "first-gen shaders: " << first_gen_shaders << "\n";
	xer << "max tex units    : " << ren.num_tex_units << " (" << ren.num_image_units << "/" << ren.num_tex_coords
	    << ")\n";
	xer << "max iso filtering: " << ren.max_anisotropy << "\n";
	xer << "max texture size : " << max_tex_size << "\n";
	xer << "max point size   : " << point_range[1] << "\n";
	xer.flush();

	// 13.
	if (glsl_avail && ren.num_image_units > ren.num_tex_units) ren.num_tex_units = ren.num_image_units;

	// 14. Hardware we cannot run on, then a software renderer.
	if (!multitex_avail && version < 110) {
		const char* first = "Your graphics hardware cannot support Nimbara. Nimbara requires a graphics card with "
		                    "16 MB of VRAM and multitexturing.";
		if (!cmdline.has_option("--force_run"))
			__MACIBM_alert(0, first, "First, try updating your graphics drivers.",
			               "If this does not help, check your graphics card specifications.",
			               "For tech support, email support@" + maker_domain, t_exit, src_file, line_no_multitex);
		else
			__MACIBM_alert(0, first, "Your system does not meet Nimbara's hardware requirements.",
			               "You have used the force-run command inline option to run Nimbara anyway, but it may crash.",
			               "Please see www." + maker_domain + " for system requirements and tech support information.",
			               t_alert, src_file, line_force_run);
	}
	static const char* const software[] = {"GENERIC", "Generic", "generic", "Mesa GLX Indirect"};
	for (const char* name : software) {
		if (strcmp(renderer, name) != 0) continue;
		__MACIBM_alert(0, "I can not find a 3-D accelerator card that can handle OpenGL that has correctly installed drivers.",
		               "I will still let you run the simulator, but the frame rate will NOT allow for a good simulation.",
		               "To fly realistically, use the edition of Nimbara made for machines without 3-D acceleration, "
		               "or get a 3-D accelerator card that can handle OpenGL.",
		               "See www." + maker_domain + " for a list of compatible 3-D video cards.", t_alert, src_file,
		               line_software);
		break;
	}
}

void OGL_extensions::threaded_ogl_failed()
{
	if (!threaded_avail) return;
	threaded_avail = 0;
	__MACIBM_alert(0, "There was a problem setting up OpenGL.",
	               "You can still fly, but you may experience pauses during flight while scenery loads.", "",
	               "(Please send your log.txt file to Quillon Dynamics for debugging purposes.)", t_alert, src_file,
	               line_threaded);
}
