// STAND-IN until the thread-caching allocator lands: the default pool's
// statistics record and its query, with the allocator's own names and types.
// Both go when the allocator's header declares them.
#ifndef NEDMALLOC_STATS_SEAM_H
#define NEDMALLOC_STATS_SEAM_H

#include <cstddef>

struct mallinfo {
	size_t arena;     // bytes in segments counted as chunks, top included
	size_t ordblks;   // free chunks, top counted as one
	size_t smblks;
	size_t hblks;
	size_t hblkhd;    // directly mapped chunks
	size_t usmblks;   // most ever reserved
	size_t fsmblks;
	size_t uordblks;  // reserved now less free bytes
	size_t fordblks;  // free bytes
	size_t keepcost;  // top size
};

struct mallinfo nedmallinfo();

#endif
