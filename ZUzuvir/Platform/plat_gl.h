// The window's OpenGL context on Linux, and the three services the drawing code
// asks of the system: look up an entry point, swap buffers, read the system version.
// Everything that knows about EGL or X11 stays behind this header.
//
// With $DISPLAY set the window is an X11 window with an EGL context; without one
// it is a pbuffer on Mesa's surfaceless platform, so the program and the tests run
// with no X server. Either way the context is desktop OpenGL in the compatibility
// profile: all drawing is fixed-function.
#ifndef PLAT_GL_H
#define PLAT_GL_H

#include <string>

struct plat_gl_context;

enum { plat_gl_auto = 0, plat_gl_headless = 1 };

// Creates the dx x dy window (or pbuffer) with its context and makes it current.
// plat_gl_auto picks X11 when $DISPLAY is set, plat_gl_headless never does.
// Returns 0, or a non-zero code with *out null and plat_gl_error() saying why.
int plat_gl_make_window(int dx, int dy, int mode, plat_gl_context** out);

// A context sharing objects with `share` (for a worker thread); null on failure.
plat_gl_context* plat_gl_make_shared(plat_gl_context* share);

// Makes the context current on the calling thread (null releases); true on success.
bool plat_gl_make_current(plat_gl_context* context);

// Destroys a context; destroying the window's context also closes the window and
// the display, after which plat_gl_make_window may be called again.
void plat_gl_dispose(plat_gl_context* context);

// Size and colour depth of the window's drawable.
void plat_gl_window_size(plat_gl_context* context, int* dx, int* dy, int* depth);

// One line for the log: which kind of window and display.
std::string plat_gl_describe(plat_gl_context* context);

// Why the last creation failed.
std::string plat_gl_error();

// An OpenGL function by name: the symbol that `library` (the OpenGL library, may
// be null) exports; null when it has none.
void* plat_gl_proc_address(const char* name, void* library);

// Presents the back buffer of the current context's drawable; a pbuffer's
// drawing is flushed instead.
void plat_gl_swap_buffers();

// What the window's events of one frame leave behind: the pointer in window
// pixels (origin top-left, kept between calls), the left button's press and
// release, and the close button.
struct plat_gl_input {
	int x = 0, y = 0;
	int pressed = 0, released = 0;
	int close = 0;
};

// Handles the window's pending events, first waiting up to wait_ms for one
// (0: no wait). Without a window it only waits; a signal ends the wait early.
void plat_gl_pump_events(int wait_ms, plat_gl_input* in);

// The system-version query of the Mac drivers' quirk list. Linux has no version
// that those quirks could be keyed on, so every selector answers "cannot be read"
// (a non-zero result) and leaves *response alone.
int Gestalt(unsigned int selector, int* response);

#endif
