#include "OGL/OGL_extensions.h"

#include "GenC/MACIBM_alert.h"

OGL_extensions glExt;

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

void OGL_extensions::threaded_ogl_failed()
{
	if (!threaded_avail) return;
	threaded_avail = 0;
	__MACIBM_alert(0, "There was a problem setting up OpenGL.",
	               "You can still fly, but you may experience pauses during flight while scenery loads.", "",
	               "(Please send your log.txt file to Quillon Dynamics for debugging purposes.)", t_alert,
	               "ZUzuvir/OGL/OGL_extensions", 0);
}
