#include <gtest/gtest.h>

#include "UTL/UTL_lazy_mempool.h"
#include "UTL/UTL_stats.h"
#include "UTL/nedmalloc.h"
#include "zuz_test.h"

TEST(LazyMempool, DestroyFreesTheChainAndLowersTheTotal)
{
	for (int nblocks : {0, 3}) {
		float before = UTL_lazy_mempool::global_total;
		{
			UTL_lazy_mempool pool;
			EXPECT_EQ(pool.total_allocated + pool.total_wasted + pool.reserved + pool.total_ready, 0);
			for (int i = 0; i < nblocks; ++i) {
				void* block = nedmalloc(UTL_lazy_mempool::kBlockSize);
				*(void**)block = pool.blocks;
				pool.blocks = block;
				UTL_lazy_mempool::global_total += UTL_lazy_mempool::kBlockSize;
			}
		}
		EXPECT_EQ(UTL_lazy_mempool::global_total, before) << nblocks;
	}

	// The statistic reads the same float, as a memory figure.
	bool found = false;
	for (UTL_stat* s = waiting; s; s = s->next_waiting)
		if (std::string(s->name) == "memory/lazy_pools")
			found = s->value == &UTL_lazy_mempool::global_total && s->type == stat_memory;
	for (UTL_stat* s : all_stats[stat_memory])
		if (std::string(s->name) == "memory/lazy_pools") found = s->value == &UTL_lazy_mempool::global_total;
	EXPECT_TRUE(found);
	UTL_lazy_mempool::global_total = 0;
}

TEST(LazyMempool, DumpWritesTheThreeTotals)
{
	zuz_test::LogCapture log;
	UTL_lazy_mempool pool;
	pool.total_allocated = 65536;
	pool.total_wasted = 12;
	pool.total_ready = -3;
	pool.dump();
	EXPECT_EQ(log.text(), "Total memory allocated: 65536\nTotal wasted memory: 12\nTotal ready memory: -3\n");
}
