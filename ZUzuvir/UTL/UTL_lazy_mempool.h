// A pool of fixed 32 KiB blocks released all at once, with three byte totals
// for its report. The program builds none; the class and its statistic exist.
#ifndef UTL_LAZY_MEMPOOL_H
#define UTL_LAZY_MEMPOOL_H

#include <cstdint>

class UTL_lazy_mempool {
public:
	UTL_lazy_mempool();
	~UTL_lazy_mempool();
	void dump();

	static const int kBlockSize = 32768;
	static float global_total;  // bytes held in pool blocks, program-wide

	int32_t total_allocated;
	int32_t total_wasted;
	void* blocks;  // newest block; each block's first word links the next older
	int32_t reserved;
	int32_t total_ready;
};

#endif
