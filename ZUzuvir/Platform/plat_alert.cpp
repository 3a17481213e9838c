#include "Platform/plat_alert.h"

#include <cstdio>

void plat_show_alert(const std::string lines[4], int type, const char* file, int line)
{
	fprintf(stderr, "%s (%s, line %d)\n", type == 2 ? "FATAL ERROR" : "ALERT", file ? file : "", line);
	for (int i = 0; i < 4; ++i)
		if (!lines[i].empty()) fprintf(stderr, "%s\n", lines[i].c_str());
	fflush(stderr);
}
