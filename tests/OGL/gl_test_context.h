// The one headless OpenGL context that the tests of this binary share.
#ifndef GL_TEST_CONTEXT_H
#define GL_TEST_CONTEXT_H

#include <string>
#include <vector>

// Creates the window's context on Mesa's surfaceless platform the first time
// (whatever $DISPLAY says) and probes it into glExt; later calls do nothing.
void gl_test_context();

// Depth writes as the context creation left them, before any test drew.
extern bool gl_depth_writes_at_creation;

// The main window, 1024 x 768, selected at origin 0,0 and cleared to black.
void main_window();

// Window pixels read back as RGB, bottom row first.
struct pixels {
	int x0, y0, w;
	std::vector<unsigned char> rgb;
	const unsigned char* at(int x, int y) const { return &rgb[3 * ((size_t)(y - y0) * w + (x - x0))]; }
	bool lit(int x, int y) const { return at(x, y)[0] | at(x, y)[1] | at(x, y)[2]; }
};
pixels read_pixels(int x0, int y0, int w, int h);

// Replaces the command line with these options.
void set_options(const std::vector<const char*>& options);

#endif
