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

// Replaces the command line with these options.
void set_options(const std::vector<const char*>& options);

#endif
