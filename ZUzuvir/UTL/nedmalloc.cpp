#include "UTL/nedmalloc.h"

#include <cstdlib>
#include <malloc.h>

void*  nedmalloc(size_t size)                 { return malloc(size ? size : 1); }
void*  nedcalloc(size_t count, size_t size)   { return calloc(count, size); }
void*  nedrealloc(void* mem, size_t size)     { return realloc(mem, size); }
void   nedfree(void* mem)                     { free(mem); }
size_t nedblksize(void* mem)                  { return mem ? malloc_usable_size(mem) : 0; }
void*  nedmemalign(size_t alignment, size_t bytes)
{
	void* p = nullptr;
	return posix_memalign(&p, alignment, bytes) == 0 ? p : nullptr;
}
