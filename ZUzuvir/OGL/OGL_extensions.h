// What the OpenGL implementation of the window's context can do, and the entry
// points of the extension functions the framework calls. Filled once at start-up
// (init_entry_points by the context creation, then init_extensions); read-only
// afterwards except for threaded_ogl_failed.
#ifndef OGL_EXTENSIONS_H
#define OGL_EXTENSIONS_H

// No prototypes for extension functions: they are called through glExt only.
#include <GL/gl.h>
#include <GL/glext.h>

typedef void (*OGL_proc)();

// Everything the probe reads from OpenGL and the system. OGL_current_context
// reads the current context; tests hand in their own answers.
struct OGL_probe_source {
	const GLubyte* (*get_string)(GLenum name);        // may answer null
	void (*get_integerv)(GLenum pname, GLint* out);    // leaves *out alone when it cannot answer
	void (*get_floatv)(GLenum pname, GLfloat* out);
	OGL_proc (*lookup)(const char* name);              // an entry point by name, null when absent
	int (*gestalt)(unsigned int selector, int* out);   // 0 when *out was read
};
extern const OGL_probe_source OGL_current_context;

class OGL_extensions {
public:
	OGL_extensions();

	static int init_entry_points();
	void init_extensions() { init_extensions(OGL_current_context); }
	void init_extensions(const OGL_probe_source& src);
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

// The opened OpenGL library; null until init_entry_points succeeds.
extern void* gBundleRefOpenGL;

// Looks up an OpenGL function by name; null when absent, and null for any name
// that does not begin with "gl" (so the Mac-only CGL lookups fail).
OGL_proc aglGetProcAddress(const char* name);

#endif
