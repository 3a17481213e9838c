// The bottom layer of the program's memory: a boundary-tag allocator with exact
// small bins and digital trees for large chunks. Spaces (`mspace`) are
// independent heaps mapped from the system; the `dl` functions run the same
// design on one program-wide heap that nothing in the program calls.
//
// Every internal consistency check stays on: a failed one calls abort().
#ifndef DLMALLOC_H
#define DLMALLOC_H

#include <pthread.h>

#include <atomic>
#include <cstddef>

// The record of mallinfo(), every field a size_t on this build.
struct mallinfo {
	size_t arena;     // bytes of the segments counted as chunks, top included
	size_t ordblks;   // free chunks, top counted as one
	size_t smblks;    // 0
	size_t hblks;     // 0
	size_t hblkhd;    // directly mapped bytes
	size_t usmblks;   // maximum footprint
	size_t fsmblks;   // 0
	size_t uordblks;  // bytes in use
	size_t fordblks;  // free bytes, top and its reserve included
	size_t keepcost;  // top size
};

// Recursive spin lock: compare-and-swap on `word`, a yield after every 64
// failed tries; `owner` and `count` make it recursive.
struct malloc_lock {
	std::atomic<pthread_t> owner;
	std::atomic<unsigned> count;
	std::atomic<int> word;
};
void malloc_lock_init(malloc_lock* lk);
void malloc_lock_take(malloc_lock* lk);
bool malloc_lock_try(malloc_lock* lk);
void malloc_lock_release(malloc_lock* lk);

typedef void* mspace;

mspace create_mspace(size_t capacity, int locked);
mspace create_mspace_with_base(void* base, size_t capacity, int locked);
size_t destroy_mspace(mspace msp);
void*  mspace_malloc(mspace msp, size_t bytes);
void   mspace_free(mspace msp, void* mem);
void*  mspace_calloc(mspace msp, size_t n_elements, size_t elem_size);
void*  mspace_realloc(mspace msp, void* mem, size_t newsize);
void*  mspace_memalign(mspace msp, size_t alignment, size_t bytes);
void** mspace_independent_calloc(mspace msp, size_t n_elements, size_t elem_size, void* chunks[]);
void** mspace_independent_comalloc(mspace msp, size_t n_elements, size_t sizes[], void* chunks[]);
int    mspace_trim(mspace msp, size_t pad);
size_t mspace_footprint(mspace msp);
size_t mspace_max_footprint(mspace msp);
struct mallinfo mspace_mallinfo(mspace msp);
void   mspace_malloc_stats(mspace msp);
int    mspace_mallopt(int param, int value);

// The global build.
void*  dlmalloc(size_t bytes);
void   dlfree(void* mem);
void*  dlcalloc(size_t n_elements, size_t elem_size);
void*  dlrealloc(void* mem, size_t bytes);
void*  dlmemalign(size_t alignment, size_t bytes);
void*  dlvalloc(size_t bytes);
void*  dlpvalloc(size_t bytes);
void** dlindependent_calloc(size_t n_elements, size_t elem_size, void* chunks[]);
void** dlindependent_comalloc(size_t n_elements, size_t sizes[], void* chunks[]);
int    dlmalloc_trim(size_t pad);
size_t dlmalloc_footprint();
size_t dlmalloc_max_footprint();
struct mallinfo dlmallinfo();
void   dlmalloc_stats();
size_t dlmalloc_usable_size(void* mem);
int    dlmallopt(int param, int value);

// What the pool above a space needs to see of it.
size_t mspace_usable_size(const void* mem);       // chunk size less the overhead
bool   mspace_chunk_inuse(const void* mem);       // marked in use, usable size not 0
mspace mspace_of_block(const void* mem);          // from its footer; null when it does not check
void   mspace_set_owner(mspace msp, void* pool);  // `extp`
void*  mspace_owner(mspace msp);
malloc_lock* mspace_lock(mspace msp);

// Heap checker for the tests: walks every segment, chunk, footer, bin and tree
// of the space under its lock. Null when all is consistent, else what is wrong.
const char* mspace_check(mspace msp);

#endif
