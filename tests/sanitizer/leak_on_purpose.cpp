// Opens and closes the OpenGL window, then leaks 48 bytes. Under the address
// sanitizer this program must fail with that one leak and nothing else: the
// driver's own allocations stay out of the report, ours do not.
#include "Platform/plat_gl.h"

char* volatile leaked;

int main()
{
	plat_gl_context* window = nullptr;
	if (plat_gl_make_window(64, 64, plat_gl_headless, &window) != 0) return 3;
	plat_gl_dispose(window);
	leaked = new char[48];
	leaked = nullptr;
	return 0;
}
