#include "OGL/OGL_setstate.h"

int num_units = 1;

void OGL_setstate(int, int, int, int, int, int) {}
