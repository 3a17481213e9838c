#include "Platform/plat_gl.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>
#include <link.h>
#include <poll.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

struct plat_gl_context {
	EGLDisplay dpy = EGL_NO_DISPLAY;
	EGLConfig  cfg = nullptr;
	EGLContext ctx = EGL_NO_CONTEXT;
	EGLSurface surf = EGL_NO_SURFACE;
	bool       is_window = false;
};

// The one window. Worker contexts borrow its display and config.
static Display*    x_dpy = nullptr;
static Window      x_win = 0;
static Colormap    x_cmap = 0;
static Atom        wm_delete = 0;
static EGLDisplay  win_dpy = EGL_NO_DISPLAY;
static std::string last_error;

static int fail(const std::string& what, int code)
{
	char hex[32];
	snprintf(hex, sizeof(hex), " (error 0x%x)", code);
	last_error = what + hex;
	return code;
}

static int egl_fail(const char* call)
{
	return fail(std::string(call) + " failed", eglGetError());
}

static bool has_word(const char* list, const char* word)
{
	if (!list) return false;
	size_t n = strlen(word);
	for (const char* p = strstr(list, word); p; p = strstr(p + 1, word))
		if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == 0)) return true;
	return false;
}

static EGLDisplay platform_display(EGLenum platform, void* native)
{
	const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
	if (!has_word(client, "EGL_EXT_platform_base")) return EGL_NO_DISPLAY;
	auto get = (PFNEGLGETPLATFORMDISPLAYEXTPROC)eglGetProcAddress("eglGetPlatformDisplayEXT");
	return get ? get(platform, native, nullptr) : EGL_NO_DISPLAY;
}

// Keeps every loaded object, the driver that eglInitialize brought in among them,
// in memory until exit. Some drivers keep allocations in their own globals (the
// processor detection of Mesa does on some processors); unloaded at eglTerminate,
// those allocations would become leaks that nothing of ours made.
static void pin_loaded_objects()
{
	dl_iterate_phdr(
		[](dl_phdr_info* info, size_t, void*) {
			if (info->dlpi_name && *info->dlpi_name) {
				void* h = dlopen(info->dlpi_name, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
				if (h) dlclose(h);
			}
			return 0;
		},
		nullptr);
}

static bool init_display(EGLDisplay dpy)
{
	if (!eglInitialize(dpy, nullptr, nullptr)) return false;
	pin_loaded_objects();
	return true;
}

static void close_window()
{
	if (win_dpy != EGL_NO_DISPLAY) eglTerminate(win_dpy);
	win_dpy = EGL_NO_DISPLAY;
	if (x_win) XDestroyWindow(x_dpy, x_win);
	if (x_cmap) XFreeColormap(x_dpy, x_cmap);
	if (x_dpy) XCloseDisplay(x_dpy);
	x_win = 0;
	x_cmap = 0;
	x_dpy = nullptr;
}

static EGLContext make_compat_context(EGLDisplay dpy, EGLConfig cfg, EGLContext share)
{
	// Every drawing is fixed-function: a core profile would lose it all.
	const EGLint attrs[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
	                        EGL_NONE};
	if (!eglBindAPI(EGL_OPENGL_API)) return EGL_NO_CONTEXT;
	return eglCreateContext(dpy, cfg, share, attrs);
}

static int open_x11_window(int dx, int dy, EGLConfig* cfg, EGLSurface* surf)
{
	XInitThreads();  // worker threads may make contexts current on this display
	x_dpy = XOpenDisplay(nullptr);
	if (!x_dpy) return fail(std::string("cannot open X display ") + getenv("DISPLAY"), ENXIO);
	win_dpy = platform_display(EGL_PLATFORM_X11_EXT, x_dpy);
	if (win_dpy == EGL_NO_DISPLAY) win_dpy = eglGetDisplay((EGLNativeDisplayType)x_dpy);
	if (win_dpy == EGL_NO_DISPLAY || !init_display(win_dpy)) return egl_fail("eglInitialize");

	const EGLint want[] = {EGL_SURFACE_TYPE, EGL_WINDOW_BIT | EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
	                       EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_ALPHA_SIZE, 8,
	                       EGL_DEPTH_SIZE, 24, EGL_NONE};
	EGLConfig configs[64];
	EGLint n = 0;
	if (!eglChooseConfig(win_dpy, want, configs, 64, &n) || n == 0) return fail("no EGL config for an X11 window", EINVAL);

	// The first config whose X visual exists.
	XVisualInfo* vis = nullptr;
	for (EGLint i = 0; i < n && !vis; ++i) {
		EGLint id = 0;
		eglGetConfigAttrib(win_dpy, configs[i], EGL_NATIVE_VISUAL_ID, &id);
		XVisualInfo tmpl{};
		tmpl.visualid = (VisualID)id;
		int count = 0;
		vis = XGetVisualInfo(x_dpy, VisualIDMask, &tmpl, &count);
		if (vis) *cfg = configs[i];
	}
	if (!vis) return fail("no X visual for the EGL configs", EINVAL);

	Window root = RootWindow(x_dpy, vis->screen);
	x_cmap = XCreateColormap(x_dpy, root, vis->visual, AllocNone);
	XSetWindowAttributes wa{};
	wa.colormap = x_cmap;
	wa.border_pixel = 0;
	wa.event_mask = ExposureMask | StructureNotifyMask | KeyPressMask | KeyReleaseMask | ButtonPressMask |
	                ButtonReleaseMask | PointerMotionMask;
	x_win = XCreateWindow(x_dpy, root, 0, 0, (unsigned)dx, (unsigned)dy, 0, vis->depth, InputOutput, vis->visual,
	                      CWColormap | CWBorderPixel | CWEventMask, &wa);
	XFree(vis);

	// The interface is laid out for this size only.
	XSizeHints hints{};
	hints.flags = PMinSize | PMaxSize;
	hints.min_width = hints.max_width = dx;
	hints.min_height = hints.max_height = dy;
	XSetWMNormalHints(x_dpy, x_win, &hints);
	XStoreName(x_dpy, x_win, "Nimbara 9");
	// The close button asks; the program decides when to go.
	wm_delete = XInternAtom(x_dpy, "WM_DELETE_WINDOW", False);
	XSetWMProtocols(x_dpy, x_win, &wm_delete, 1);
	XMapWindow(x_dpy, x_win);
	XFlush(x_dpy);

	*surf = eglCreateWindowSurface(win_dpy, *cfg, (EGLNativeWindowType)x_win, nullptr);
	return *surf == EGL_NO_SURFACE ? egl_fail("eglCreateWindowSurface") : 0;
}

static int open_pbuffer(int dx, int dy, EGLConfig* cfg, EGLSurface* surf)
{
	win_dpy = platform_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY);
	if (win_dpy == EGL_NO_DISPLAY) return fail("the surfaceless EGL platform is not available", ENODEV);
	if (!init_display(win_dpy)) return egl_fail("eglInitialize");

	const EGLint want[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
	                       EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_ALPHA_SIZE, 8,
	                       EGL_DEPTH_SIZE, 24, EGL_NONE};
	EGLint n = 0;
	if (!eglChooseConfig(win_dpy, want, cfg, 1, &n) || n == 0) return fail("no EGL config for a pbuffer", EINVAL);
	const EGLint size[] = {EGL_WIDTH, dx, EGL_HEIGHT, dy, EGL_NONE};
	*surf = eglCreatePbufferSurface(win_dpy, *cfg, size);
	return *surf == EGL_NO_SURFACE ? egl_fail("eglCreatePbufferSurface") : 0;
}

int plat_gl_make_window(int dx, int dy, int mode, plat_gl_context** out)
{
	*out = nullptr;
	if (win_dpy != EGL_NO_DISPLAY) return fail("the window already exists", EEXIST);
	last_error.clear();

	const char* display = getenv("DISPLAY");
	const bool x11 = mode == plat_gl_auto && display && *display;
	EGLConfig cfg = nullptr;
	EGLSurface surf = EGL_NO_SURFACE;
	int err = x11 ? open_x11_window(dx, dy, &cfg, &surf) : open_pbuffer(dx, dy, &cfg, &surf);
	if (err) {
		close_window();
		return err;
	}

	EGLContext ctx = make_compat_context(win_dpy, cfg, EGL_NO_CONTEXT);
	if (ctx == EGL_NO_CONTEXT) {
		err = egl_fail("eglCreateContext");
		close_window();
		return err;
	}
	if (!eglMakeCurrent(win_dpy, surf, surf, ctx)) {
		err = egl_fail("eglMakeCurrent");
		eglDestroyContext(win_dpy, ctx);
		close_window();
		return err;
	}
	*out = new plat_gl_context{win_dpy, cfg, ctx, surf, true};
	return 0;
}

plat_gl_context* plat_gl_make_shared(plat_gl_context* share)
{
	if (!share || share->dpy == EGL_NO_DISPLAY) return nullptr;
	// A worker draws nothing on screen, but some drivers want a drawable to be current.
	const EGLint size[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
	EGLSurface surf = eglCreatePbufferSurface(share->dpy, share->cfg, size);
	if (surf == EGL_NO_SURFACE) {
		egl_fail("eglCreatePbufferSurface");
		return nullptr;
	}
	EGLContext ctx = make_compat_context(share->dpy, share->cfg, share->ctx);
	if (ctx == EGL_NO_CONTEXT) {
		egl_fail("eglCreateContext");
		eglDestroySurface(share->dpy, surf);
		return nullptr;
	}
	return new plat_gl_context{share->dpy, share->cfg, ctx, surf, false};
}

bool plat_gl_make_current(plat_gl_context* c)
{
	if (!c) {
		EGLDisplay cur = eglGetCurrentDisplay();
		return cur == EGL_NO_DISPLAY || eglMakeCurrent(cur, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
	}
	return eglBindAPI(EGL_OPENGL_API) && eglMakeCurrent(c->dpy, c->surf, c->surf, c->ctx);
}

void plat_gl_dispose(plat_gl_context* c)
{
	if (!c) return;
	if (eglGetCurrentContext() == c->ctx) eglMakeCurrent(c->dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
	eglDestroyContext(c->dpy, c->ctx);
	eglDestroySurface(c->dpy, c->surf);
	if (c->is_window) {
		close_window();
		eglReleaseThread();
	}
	delete c;
}

void plat_gl_window_size(plat_gl_context* c, int* dx, int* dy, int* depth)
{
	EGLint w = 0, h = 0, bits = 0;
	if (c) {
		eglQuerySurface(c->dpy, c->surf, EGL_WIDTH, &w);
		eglQuerySurface(c->dpy, c->surf, EGL_HEIGHT, &h);
		eglGetConfigAttrib(c->dpy, c->cfg, EGL_BUFFER_SIZE, &bits);
	}
	*dx = w;
	*dy = h;
	*depth = bits;
}

std::string plat_gl_describe(plat_gl_context* c)
{
	if (!c) return "no OpenGL window";
	int dx, dy, depth;
	plat_gl_window_size(c, &dx, &dy, &depth);
	std::string size = std::to_string(dx) + " x " + std::to_string(dy) + " x " + std::to_string(depth);
	const char* version = eglQueryString(c->dpy, EGL_VERSION);
	std::string egl = std::string(" (EGL ") + (version ? version : "?") + ")";
	if (c->is_window && x_win) return "X11 window " + size + " on display " + DisplayString(x_dpy) + egl;
	return "pbuffer " + size + " on the surfaceless platform" + egl;
}

std::string plat_gl_error()
{
	return last_error;
}

void* plat_gl_proc_address(const char* name, void* library)
{
	// Not eglGetProcAddress: it makes up a dispatch stub for any name, so a
	// function the driver lacks would still be "found".
	return library ? dlsym(library, name) : nullptr;
}

void plat_gl_swap_buffers()
{
	EGLDisplay dpy = eglGetCurrentDisplay();
	EGLSurface surf = eglGetCurrentSurface(EGL_DRAW);
	if (dpy == EGL_NO_DISPLAY || surf == EGL_NO_SURFACE) return;
	eglSwapBuffers(dpy, surf);
	// Without a window the drawable is a pbuffer, whose swap flushes nothing, and
	// Mesa queues every frame's drawing until a flush: the queue would grow without end.
	if (!x_win) glFlush();
}

void plat_gl_pump_events(int wait_ms, plat_gl_input* in)
{
	in->pressed = in->released = in->close = 0;
	if (!x_dpy || !x_win) {
		// Nothing to wait for but time; a signal ends the wait early.
		if (wait_ms > 0) poll(nullptr, 0, wait_ms);
		return;
	}
	if (wait_ms > 0 && !XPending(x_dpy)) {
		pollfd p = {ConnectionNumber(x_dpy), POLLIN, 0};
		poll(&p, 1, wait_ms);
	}
	while (XPending(x_dpy)) {
		XEvent e;
		XNextEvent(x_dpy, &e);
		switch (e.type) {
		case MotionNotify:
			in->x = e.xmotion.x;
			in->y = e.xmotion.y;
			break;
		case ButtonPress:
		case ButtonRelease:
			in->x = e.xbutton.x;
			in->y = e.xbutton.y;
			if (e.xbutton.button == Button1) (e.type == ButtonPress ? in->pressed : in->released) = 1;
			break;
		case ClientMessage:
			if ((Atom)e.xclient.data.l[0] == wm_delete) in->close = 1;
			break;
		}
	}
}

int Gestalt(unsigned int, int*)
{
	return ENOTSUP;
}
