// The fixed-function state cache: every drawing states the fog, texture-unit,
// lighting, alpha, depth-read and depth-write state it needs in one call, and only
// changes reach OpenGL.
#ifndef OGL_SETSTATE_H
#define OGL_SETSTATE_H

// Values: fog 0 on, 1 off; lighting 2 on, 3 off; alpha 4 none, 5 blending,
// 6 alpha test, 7 both; depth read 8 on, 9 off; depth write 10 on, 11 off.
// tex_units is the number of units with 2-D texturing on.

void OGL_setstate(int fog, int tex_units, int lighting, int alpha, int depth_read, int depth_write);

extern int num_units;  // texture units in use

#endif
