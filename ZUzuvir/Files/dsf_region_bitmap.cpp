#include "Files/dsf_region_bitmap.h"

#include "UTL/nedmalloc.h"

int dsf_region_bitmap(const std::string& path, unsigned char* mask, int* width, int* height)
{
	(void)path;
	(void)mask;
	*width = *height = 0;
	return dsf_bitmap_unreadable;
}
