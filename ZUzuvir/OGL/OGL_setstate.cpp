#include "OGL/OGL_setstate.h"

#include "GenC/hl_globals.h"
#include "OGL/OGL_extensions.h"

int num_units = 1;

// What OpenGL was last told. o_deW starts as "off": the context creation turns
// depth writes off to make that true.
struct setstate_cache {
	int o_fog, o_tex, o_lit, o_alB, o_alT, o_deR, o_deW;
};

static setstate_cache seed()
{
	setstate_cache c;
	c.o_fog = glIsEnabled(GL_FOG) ? 0 : 1;
	c.o_tex = glIsEnabled(GL_TEXTURE_2D) ? num_units : 0;
	c.o_lit = glIsEnabled(GL_LIGHTING) ? 2 : 3;
	c.o_alB = glIsEnabled(GL_BLEND) ? 1 : 0;
	c.o_alT = glIsEnabled(GL_ALPHA_TEST) ? 1 : 0;
	c.o_deR = glIsEnabled(GL_DEPTH_TEST) ? 8 : 9;
	c.o_deW = 11;
	return c;
}

static void set_cap(GLenum cap, bool on)
{
	if (on)
		glEnable(cap);
	else
		glDisable(cap);
}

void OGL_setstate(int fog, int tex_units, int lighting, int alpha, int depth_read, int depth_write)
{
	static setstate_cache c = seed();

	if (fog != c.o_fog) set_cap(GL_FOG, fog == 0);

	int n = c.o_tex;
	if (tex_units != c.o_tex) {
		set_cap(GL_TEXTURE_2D, tex_units >= 1);  // on whichever unit is active
		n = tex_units < 0 ? 0 : (tex_units < ren.num_tex_units ? tex_units : ren.num_tex_units);
		num_units = n;
		const int old = c.o_tex;
		if (old > 1 || n > 1) {
			for (int i = 0; i < 8; ++i)
				if (i < n && i >= old) {
					glActiveTextureARB(GL_TEXTURE0_ARB + i);
					glEnable(GL_TEXTURE_2D);
				}
			for (int i = 0; i < 8; ++i)
				if (i >= n && i < old) {
					glActiveTextureARB(GL_TEXTURE0_ARB + i);
					glDisable(GL_TEXTURE_2D);
				}
			glActiveTextureARB(GL_TEXTURE0_ARB);
		}
	}

	if (lighting != c.o_lit) {
		set_cap(GL_LIGHTING, lighting == 2);
		set_cap(GL_LIGHT0, lighting == 2);
	}

	// Any other alpha value leaves blending, alpha test and the cache as they were,
	// so the cache never disagrees with OpenGL.
	if (alpha >= 4 && alpha <= 7) {
		const int blend = alpha == 5 || alpha == 7;
		const int test = alpha == 6 || alpha == 7;
		if (blend != c.o_alB) set_cap(GL_BLEND, blend);
		if (test != c.o_alT) set_cap(GL_ALPHA_TEST, test);
		c.o_alB = blend;
		c.o_alT = test;
	}

	if (depth_read != c.o_deR) set_cap(GL_DEPTH_TEST, depth_read == 8);
	if (depth_write != c.o_deW) glDepthMask(depth_write == 10 ? GL_TRUE : GL_FALSE);

	c.o_fog = fog;
	c.o_tex = n;
	c.o_lit = lighting;
	c.o_deR = depth_read;
	c.o_deW = depth_write;
}
