// What the OpenGL implementation of the window's context can do, and the entry
// points of the extension functions the framework calls. Filled once at start-up
// (init_entry_points by the context creation, then init_extensions); read-only
// afterwards except for threaded_ogl_failed.
#ifndef OGL_EXTENSIONS_H
#define OGL_EXTENSIONS_H

#define GL_GLEXT_PROTOTYPES 0
#include <GL/gl.h>
#include <GL/glext.h>

class OGL_extensions {
public:
	OGL_extensions();

	static int init_entry_points();
	void init_extensions();
	void threaded_ogl_failed();

#define OGL_ENTRY(name, type) type name;
#include "OGL/OGL_entry_points.inc"
#undef OGL_ENTRY

	int multitex_avail, tex_clamp_avail, add_env_avail, combine_avail, dis_fog_avail, tex_comp_avail;
	int vbo_avail, pbo_avail, vprog_avail, fprog_avail, automini_avail, aniso_avail, fsaa_avail;
	int sprites_avail, depth_tex_avail, occlude_avail, shad_objs_avail, vshader_avail, fshader_avail;
	int gshader_avail, glsl_avail, first_gen_shaders, framebuf_avail, sblend_avail, threaded_avail;

	int max_tex_size;
};

extern OGL_extensions glExt;

typedef void (*OGL_proc)();
// Looks up an OpenGL function by name in the loaded OpenGL library; null when absent.
OGL_proc aglGetProcAddress(const char* name);

#endif
