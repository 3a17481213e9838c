// The program's general-purpose allocator: the default pool's entry points.
// Until the thread-caching allocator is in, these wrap the C library.
#ifndef NEDMALLOC_H
#define NEDMALLOC_H

#include <cstddef>

void*  nedmalloc(size_t size);
void*  nedcalloc(size_t count, size_t size);
void*  nedrealloc(void* mem, size_t size);
void   nedfree(void* mem);
void*  nedmemalign(size_t alignment, size_t bytes);
size_t nedblksize(void* mem);

#endif
