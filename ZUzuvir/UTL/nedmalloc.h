// The program's general-purpose allocator: pools of up to four spaces with a
// small cache of freed blocks per thread, on the spaces of dlmalloc.h.
//
// With ZUZ_SYSTEM_ALLOCATOR (the sanitizer builds) the default pool's
// functions wrap the C library instead; created pools stay real.
#ifndef NEDMALLOC_H
#define NEDMALLOC_H

#include <cstddef>

#include "UTL/dlmalloc.h"

#define THREADCACHEMAX 8192
#define THREADCACHEMAXBINS 9
#define THREADCACHEMAXFREESPACE (512 * 1024)
#define THREADCACHEMAXCACHES 256
#define MAXTHREADSINPOOL 4

struct nedpool;

void*  nedmalloc(size_t size);
void*  nedcalloc(size_t count, size_t size);
void*  nedrealloc(void* mem, size_t size);
void   nedfree(void* mem);
void*  nedmemalign(size_t alignment, size_t bytes);
size_t nedblksize(void* mem);
void** nedindependent_calloc(size_t count, size_t elemsize, void** chunks);
void** nedindependent_comalloc(size_t count, size_t* sizes, void** chunks);
struct mallinfo nedmallinfo();
int    nedmallopt(int parno, int value);
int    nedmalloc_trim(size_t pad);
void   nedmalloc_stats();
size_t nedmalloc_footprint();
void   nedsetvalue(void* v);

nedpool* nedcreatepool(size_t capacity, int threads);
void   neddestroypool(nedpool* p);
void   nedpsetvalue(nedpool* p, void* v);
void*  nedgetvalue(nedpool** p, void* mem);
void   neddisablethreadcache(nedpool* p);
void*  nedpmalloc(nedpool* p, size_t size);
void*  nedpcalloc(nedpool* p, size_t count, size_t size);
void*  nedprealloc(nedpool* p, void* mem, size_t size);
void   nedpfree(nedpool* p, void* mem);
void*  nedpmemalign(nedpool* p, size_t alignment, size_t bytes);
void** nedpindependent_calloc(nedpool* p, size_t count, size_t elemsize, void** chunks);
void** nedpindependent_comalloc(nedpool* p, size_t count, size_t* sizes, void** chunks);
struct mallinfo nedpmallinfo(nedpool* p);
int    nedpmallopt(nedpool* p, int parno, int value);
int    nedpmalloc_trim(nedpool* p, size_t pad);
void   nedpmalloc_stats(nedpool* p);
size_t nedpmalloc_footprint(nedpool* p);

#endif
