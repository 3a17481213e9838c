#include "GenC/MACIBM_context.h"

#include <vector>

#include "GenC/MACIBM_alert.h"
#include "GenC/hl_globals.h"
#include "OGL/OGL_extensions.h"
#include "OOPS_cpp/tman.h"
#include "Platform/plat_gl.h"
#include "UTL/UTL_cmdline.h"

static const char* const src_file = "ZUzuvir/GenC/MACIBM_context";
enum { line_no_window = 58, line_no_library = 71 };

static AGLContext window_ctx = nullptr;
// Main thread only. Never destroyed: a context lives until MACIBM_dispose_contexts,
// whether or not the run gets there.
static std::vector<AGLContext>& loaders = *new std::vector<AGLContext>;

typedef int (*CGLEnable_fn)(void* ctx, int capability);
typedef void* (*CGLGetCurrentContext_fn)();
const int kCGLCEMPEngine = 313;

void MACIBM_make_context()
{
	int err = plat_gl_make_window(mnw.x_res_req, mnw.y_res_req, plat_gl_auto, &window_ctx);
	if (err) {
		__MACIBM_alert(0, "Unable to create the OpenGL window.", plat_gl_error(), "", "", t_exit, src_file,
		               line_no_window);
		return;
	}
	plat_gl_window_size(window_ctx, &mnw.pix_dx, &mnw.pix_dy, &mnw.pix_depth);
	xer << "OpenGL window    : " << plat_gl_describe(window_ctx) << "\n";

	// A fresh context writes depth; the state cache starts out believing it does not.
	glDepthMask(GL_FALSE);

	err = OGL_extensions::init_entry_points();
	if (err) {
		__MACIBM_alert(0, "Unable to load the OpenGL library.", "error=" + std::to_string(err), "", "", t_exit,
		               src_file, line_no_library);
		return;
	}

	OGL_proc cgl_disable = aglGetProcAddress("CGLDisable");
	OGL_proc cgl_enable = aglGetProcAddress("CGLEnable");
	OGL_proc cgl_current = aglGetProcAddress("CGLGetCurrentContext");
	if (cmdline.has_option("--use_threaded_ogl") && cgl_disable && cgl_enable && cgl_current) {
		int got = ((CGLEnable_fn)cgl_enable)(((CGLGetCurrentContext_fn)cgl_current)(), kCGLCEMPEngine);
		xer << "Enabling threaded OGL - got " << got << "\n";
	}
	tman_class::reset_bind();
}

AGLContext MACIBM_make_context_loader()
{
	if (!window_ctx) return nullptr;
	AGLContext c = plat_gl_make_shared(window_ctx);
	if (!c) {
		xer << "We could not create a context for our worker threads.\n";
		return nullptr;
	}
	loaders.push_back(c);
	return c;
}

bool MACIBM_set_context_loader(AGLContext context)
{
	return context && plat_gl_make_current(context);
}

void MACIBM_dispose_contexts()
{
	for (AGLContext c : loaders) plat_gl_dispose(c);
	loaders.clear();
	plat_gl_dispose(window_ctx);
	window_ctx = nullptr;
}
