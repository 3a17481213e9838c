#include "gl_test_context.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "GenC/MACIBM_context.h"
#include "GenC/hl_globals.h"
#include "OGL/OGL_extensions.h"
#include "OOPS_cpp/oglp.h"
#include "UTL/UTL_cmdline.h"
#include "zuz_test.h"

bool gl_depth_writes_at_creation = true;

// Mesa would otherwise keep a shader cache in the home folder, for this binary
// and for every program it starts.
static const int no_disk_cache = setenv("MESA_SHADER_CACHE_DISABLE", "true", 1);

void gl_test_context()
{
	static bool made = false;
	if (made) return;
	made = true;
	(void)no_disk_cache;
	unsetenv("DISPLAY");
	zuz_test::LogCapture log;
	MACIBM_init_tables();  // the texture tests decode into scratch_array
	MACIBM_make_context();
	GLboolean mask = GL_TRUE;
	glGetBooleanv(GL_DEPTH_WRITEMASK, &mask);
	gl_depth_writes_at_creation = mask;
	set_options({});
	glExt.init_extensions();
}

void main_window()
{
	gl_test_context();
	MACIBM_init_tables();  // the sine and cosine tables
	mnw.pix_dx = 1024, mnw.pix_dy = 768, mnw.cur_wind = 0;
	mnw.org_x = mnw.org_y = 0;
	OGL_pix_specs(0);
	OGL_nrml_colors();
	glDisable(GL_SCISSOR_TEST);
	glClearColor(0, 0, 0, 1);
	glClear(GL_COLOR_BUFFER_BIT);
}

pixels read_pixels(int x0, int y0, int w, int h)
{
	pixels p{x0, y0, w, std::vector<unsigned char>((size_t)w * h * 3)};
	glPixelStorei(GL_PACK_ALIGNMENT, 1);
	glReadPixels(x0, y0, w, h, GL_RGB, GL_UNSIGNED_BYTE, p.rgb.data());
	return p;
}

void set_options(const std::vector<const char*>& options)
{
	std::vector<const char*> argv = {"nimbara"};
	argv.insert(argv.end(), options.begin(), options.end());
	cmdline = UTL_cmdline();
	cmdline.init_unix((int)argv.size(), argv.data());
}
