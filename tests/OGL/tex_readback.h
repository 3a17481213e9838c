// Reading textures back from OpenGL, behind the bind cache's back (it is reset).
#ifndef TEX_READBACK_H
#define TEX_READBACK_H

#include <GL/gl.h>

#include <vector>

#include "OOPS_cpp/TEX_bind.h"

namespace tex_test {

inline GLint level_param(int tex, int level, GLenum pname)
{
	GLint v = 0;
	glBindTexture(GL_TEXTURE_2D, tex);
	glGetTexLevelParameteriv(GL_TEXTURE_2D, level, pname, &v);
	glBindTexture(GL_TEXTURE_2D, 0);
	TEX_reset_bind();
	return v;
}

inline GLint tex_param(int tex, GLenum pname)
{
	GLint v = 0;
	glBindTexture(GL_TEXTURE_2D, tex);
	glGetTexParameteriv(GL_TEXTURE_2D, pname, &v);
	glBindTexture(GL_TEXTURE_2D, 0);
	TEX_reset_bind();
	return v;
}

// A level's pixels in rows without padding.
inline std::vector<unsigned char> read_tex(int tex, GLenum format, int bpp, int level = 0)
{
	std::vector<unsigned char> px(
		(size_t)level_param(tex, level, GL_TEXTURE_WIDTH) * level_param(tex, level, GL_TEXTURE_HEIGHT) * bpp);
	glPixelStorei(GL_PACK_ALIGNMENT, 1);
	glBindTexture(GL_TEXTURE_2D, tex);
	glGetTexImage(GL_TEXTURE_2D, level, format, GL_UNSIGNED_BYTE, px.data());
	glBindTexture(GL_TEXTURE_2D, 0);
	TEX_reset_bind();
	return px;
}

// Projection for drawing in window pixels over a w x h viewport, nothing blended.
inline void pixel_projection(int w, int h)
{
	glViewport(0, 0, w, h);
	glMatrixMode(GL_PROJECTION);
	glLoadIdentity();
	glOrtho(0, w, 0, h, -1, 1);
	glMatrixMode(GL_MODELVIEW);
	glLoadIdentity();
	glDisable(GL_BLEND);
	glDisable(GL_DEPTH_TEST);
}

}  // namespace tex_test

#endif
