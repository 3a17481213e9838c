#include "UTL/UTL_lazy_mempool.h"

#include "GenC/hl_globals.h"
#include "UTL/UTL_stats.h"
#include "UTL/nedmalloc.h"

float UTL_lazy_mempool::global_total = 0.0f;
static UTL_stat lazy_pools_stat(&UTL_lazy_mempool::global_total, "memory/lazy_pools", stat_memory);

UTL_lazy_mempool::UTL_lazy_mempool() : total_allocated(0), total_wasted(0), blocks(nullptr), reserved(0), total_ready(0) {}

UTL_lazy_mempool::~UTL_lazy_mempool()
{
	while (blocks) {
		void* block = blocks;
		blocks = *(void**)block;
		nedfree(block);
		global_total -= kBlockSize;
	}
}

void UTL_lazy_mempool::dump()
{
	xer << "Total memory allocated: " << total_allocated << "\n"
		<< "Total wasted memory: " << total_wasted << "\n"
		<< "Total ready memory: " << total_ready << "\n";
}
