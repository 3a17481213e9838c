// STAND-IN until the thread-caching allocator lands: the C library's figures,
// whose record has the same ten size_t fields in the same order.
#include "UTL/nedmalloc_stats_seam.h"

extern "C" struct mallinfo mallinfo2();

struct mallinfo nedmallinfo()
{
	return mallinfo2();
}
