#include <errno.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdint.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "UTL/dlmalloc.h"

namespace {

const size_t MiB = 1048576;

// The kernel's list of this process's mappings.
std::vector<std::pair<uintptr_t, uintptr_t>> mappings()
{
	std::vector<std::pair<uintptr_t, uintptr_t>> out;
	std::ifstream in("/proc/self/maps");
	std::string line;
	while (std::getline(in, line)) {
		unsigned long lo, hi;
		if (sscanf(line.c_str(), "%lx-%lx", &lo, &hi) == 2) out.push_back({lo, hi});
	}
	return out;
}

bool mapped(const void* p, const std::vector<std::pair<uintptr_t, uintptr_t>>& maps = mappings())
{
	for (auto& m : maps)
		if ((uintptr_t)p >= m.first && (uintptr_t)p < m.second) return true;
	return false;
}

struct Space {
	mspace ms = create_mspace(0, 1);
	~Space() { destroy_mspace(ms); }
	void check()
	{
		const char* e = mspace_check(ms);
		ASSERT_EQ(e, nullptr) << e;
	}
};

}  // namespace

TEST(Space, SizesFootprintsAndLimits)
{
	Space s;
	ASSERT_NE(s.ms, nullptr);
	EXPECT_EQ(mspace_footprint(s.ms), 2 * MiB);  // 1 MiB rounded by adding a granule
	mspace sized = create_mspace(MiB - 100, 1);  // and its bookkeeping on top
	EXPECT_EQ(mspace_footprint(sized), 2 * MiB);
	destroy_mspace(sized);

	void* zero = mspace_malloc(s.ms, 0);
	EXPECT_EQ(mspace_usable_size(zero), 16u);
	EXPECT_EQ((uintptr_t)zero % alignof(max_align_t), 0u);

	// Limits are tested before the overhead is added, so nothing wraps.
	const size_t huge[] = {SIZE_MAX, SIZE_MAX - 15, SIZE_MAX - 200, SIZE_MAX / 2};
	for (size_t n : huge) {
		errno = 0;
		EXPECT_EQ(mspace_malloc(s.ms, n), nullptr) << n;
		EXPECT_EQ(errno, ENOMEM) << n;
		EXPECT_EQ(mspace_memalign(s.ms, 64, n), nullptr) << n;
		EXPECT_EQ(mspace_realloc(s.ms, zero, n), nullptr) << n;
		EXPECT_EQ(create_mspace(n, 1), nullptr) << n;
	}
	EXPECT_EQ(mspace_calloc(s.ms, ((size_t)1 << 62) + 1, 4), nullptr);  // wraps to 4 bytes
	EXPECT_EQ(mspace_calloc(s.ms, 3, SIZE_MAX / 2), nullptr);
	EXPECT_EQ(mspace_usable_size(zero), 16u);  // the failed reallocations left it alone
	mspace_free(s.ms, zero);
	s.check();

	EXPECT_EQ(mspace_mallopt(-2, 3 * 4096), 0);  // not a power of two
	EXPECT_EQ(mspace_mallopt(-2, 2048), 0);      // below a page
	EXPECT_EQ(mspace_mallopt(-7, 1), 0);
}

// The kernel as oracle: what the top can serve is cut from it; a large block it
// cannot serve is a mapping of its own, gone once freed.
TEST(Space, DirectMappedBlocksComeAndGoWithTheKernel)
{
	Space s;
	size_t before = mspace_footprint(s.ms);
	void* filler = mspace_malloc(s.ms, mspace_mallinfo(s.ms).keepcost - 200 * 1024);
	EXPECT_EQ(mspace_footprint(s.ms), before);
	char* p = (char*)mspace_malloc(s.ms, 256 * 1024);
	ASSERT_NE(p, nullptr);
	EXPECT_EQ(mspace_footprint(s.ms), before + MiB);
	EXPECT_TRUE(mapped(p));
	EXPECT_TRUE(mapped(p + MiB - 4096));
	const size_t usable = mspace_usable_size(p);
	memset(p, 0x5a, usable);

	// Shrinking a little keeps it in place; growing past it moves it.
	EXPECT_EQ(mspace_realloc(s.ms, p, 200 * 1024), p);
	char* q = (char*)mspace_realloc(s.ms, p, 3 * MiB);
	ASSERT_NE(q, nullptr);
	EXPECT_NE(q, p);
	EXPECT_FALSE(mapped(p));
	EXPECT_EQ(std::string(q, usable), std::string(usable, 0x5a));  // the whole block came over
	// Shrinking by more than two granules moves it too.
	char* r = (char*)mspace_realloc(s.ms, q, 300 * 1024);
	EXPECT_NE(r, q);
	EXPECT_FALSE(mapped(q));

	mspace_free(s.ms, r);
	EXPECT_FALSE(mapped(r));
	EXPECT_EQ(mspace_footprint(s.ms), before);
	EXPECT_EQ(mspace_max_footprint(s.ms), before + 5 * MiB);  // old and new at once
	mspace_free(s.ms, filler);
	s.check();
}

// A free top above the trim threshold gives whole granules back, keeping part
// of one.
TEST(Space, FreeTopAboveTheTrimThresholdGoesBack)
{
	ASSERT_EQ(mspace_mallopt(-1, MiB), 1);
	Space s;  // takes the threshold when made
	mspace_mallopt(-1, 2 * MiB);
	void* p = mspace_malloc(s.ms, 3 * MiB / 2);
	EXPECT_EQ(mspace_footprint(s.ms), 2 * MiB);  // cut from the top
	mspace_free(s.ms, p);
	EXPECT_EQ(mspace_footprint(s.ms), MiB);
	s.check();
}

// Small blocks fill several segments; freeing them gives whole granules back,
// which the kernel confirms page by page.
TEST(Space, FreeingGivesMemoryBackToTheKernel)
{
	Space s;
	std::vector<char*> blocks;
	for (int i = 0; i < 6000; ++i) {
		char* b = (char*)mspace_malloc(s.ms, 1000);
		ASSERT_NE(b, nullptr);
		blocks.push_back(b);
	}
	s.check();
	size_t grown = mspace_footprint(s.ms);
	EXPECT_GE(grown, 6 * MiB);
	for (char* b : blocks) mspace_free(s.ms, b);
	s.check();
	EXPECT_LT(mspace_footprint(s.ms), grown);  // the frees trimmed on their own
	mspace_trim(s.ms, 0);  // and a trim finds the segments left empty
	s.check();
	size_t left = mspace_footprint(s.ms);
	EXPECT_LE(left + 2 * MiB, grown);

	auto maps = mappings();
	std::set<uintptr_t> pages;
	for (char* b : blocks) pages.insert((uintptr_t)b & ~(uintptr_t)4095);
	size_t pages_mapped = std::count_if(pages.begin(), pages.end(), [&](uintptr_t pg) { return mapped((void*)pg, maps); });
	EXPECT_LE(pages_mapped * 4096, left);
	EXPECT_EQ(mspace_trim(s.ms, 0), 0);  // nothing more to give
	struct mallinfo mi = mspace_mallinfo(s.ms);
	EXPECT_EQ(mi.arena + mi.hblkhd, left);
	EXPECT_EQ(mi.uordblks + mi.fordblks, left);
	EXPECT_LE(mi.ordblks, 2u);  // the top, and the old top in the first segment
}

TEST(Space, FreedChunksServeTheBestFit)
{
	Space s;
	// Free chunks of 1000 and 3000 bytes, kept apart by blocks in use.
	void* small = mspace_malloc(s.ms, 1000);
	void* guard1 = mspace_malloc(s.ms, 16);
	void* large = mspace_malloc(s.ms, 3000);
	void* guard2 = mspace_malloc(s.ms, 16);
	mspace_free(s.ms, small);
	mspace_free(s.ms, large);
	EXPECT_EQ(mspace_malloc(s.ms, 900), small);
	EXPECT_EQ(mspace_malloc(s.ms, 2900), large);
	// A shrink in place gives back a tail that makes a chunk; the block next to
	// the top grows into it.
	EXPECT_EQ(mspace_realloc(s.ms, large, 2848), large);
	EXPECT_EQ(mspace_usable_size(large), 2848u);
	EXPECT_EQ(mspace_realloc(s.ms, guard2, 5000), guard2);
	s.check();
	for (void* p : {small, guard1, large, guard2}) mspace_free(s.ms, p);
	s.check();
}

// The checker finds what a test is to see.
TEST(Space, HeapCheckerNamesWhatIsWrong)
{
	Space s;
	char* a = (char*)mspace_malloc(s.ms, 100);
	char* b = (char*)mspace_malloc(s.ms, 100);
	char* c = (char*)mspace_malloc(s.ms, 100);
	mspace_free(s.ms, b);  // a free chunk between two in use
	const struct {
		size_t* word;
		const char* what;
	} cases[] = {
		{(size_t*)(a + mspace_usable_size(a)), "footer does not name the space"},
		{(size_t*)(c - 16), "free chunk footer"},
		{(size_t*)(c - 8), "previous-in-use bit out of step"},
	};
	for (auto& k : cases) {
		*k.word ^= 1;
		const char* e = mspace_check(s.ms);
		*k.word ^= 1;
		EXPECT_STREQ(e, k.what);
	}
	s.check();
	mspace_free(s.ms, a);
	mspace_free(s.ms, c);
}

// A segment left empty goes back once enough frees went into the tree bins.
// The memory is laid out by hand: 1 MiB of caller memory, a 1 MiB hole after
// it where the first growth lands, and a page in use after that, so that the
// second growth is a segment elsewhere.
TEST(Space, EmptySegmentGoesBackAfterManyFrees)
{
	char* r = (char*)mmap(nullptr, 3 * MiB, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
	ASSERT_NE(r, MAP_FAILED);
	// Nothing else may map memory before the growth, or it could take the hole.
	std::vector<char*> blocks, in_hole;
	blocks.reserve(4096);
	in_hole.reserve(4096);
	munmap(r + MiB, MiB);
	mspace ms = create_mspace_with_base(r, MiB, 0);
	while (mspace_footprint(ms) < 3 * MiB) {
		blocks.push_back((char*)mspace_malloc(ms, 1000));
		if (blocks.back() >= r + MiB && blocks.back() < r + 2 * MiB) in_hole.push_back(blocks.back());
	}
	ASSERT_GT(in_hole.size(), 900u);
	for (char* b : in_hole) mspace_free(ms, b);
	// A block freed and taken back, over and over: every free goes into a tree bin.
	for (int i = 0; i < 4095; ++i) {
		mspace_free(ms, blocks[0]);
		ASSERT_EQ(mspace_malloc(ms, 1000), blocks[0]);
	}
	EXPECT_FALSE(mapped(r + MiB));
	EXPECT_EQ(mspace_footprint(ms), 2 * MiB);
	EXPECT_EQ(mspace_check(ms), nullptr);
	for (char* b : blocks)
		if (b < r + MiB || b >= r + 2 * MiB) mspace_free(ms, b);
	destroy_mspace(ms);
	munmap(r, MiB);
	munmap(r + 2 * MiB, MiB);
}

TEST(Space, BlocksAreFreedInTheirOwnSpace)
{
	Space a, b;
	void* p = mspace_malloc(a.ms, 5000);
	size_t used = mspace_mallinfo(a.ms).uordblks;
	mspace_free(b.ms, p);
	EXPECT_LT(mspace_mallinfo(a.ms).uordblks, used);
	a.check();
	b.check();
}

TEST(Space, AlignedBlocks)
{
	Space s;
	const struct {
		size_t alignment, bytes, expect_align;
	} cases[] = {
		{8, 10, 16}, {16, 1, 16}, {24, 100, 32}, {32, 33, 32}, {64, 1000, 64}, {100, 7, 128},
		{4096, 5000, 4096}, {65536, 3 * MiB, 65536},  // the last one is mapped
	};
	std::vector<void*> live;
	for (auto& c : cases) {
		void* p = mspace_memalign(s.ms, c.alignment, c.bytes);
		ASSERT_NE(p, nullptr) << c.alignment;
		EXPECT_EQ((uintptr_t)p % c.expect_align, 0u) << c.alignment;
		EXPECT_GE(mspace_usable_size(p), c.bytes) << c.alignment;
		if (c.bytes < 256 * 1024) {
			EXPECT_LT(mspace_usable_size(p), c.bytes + 48) << c.alignment;  // the tail went back
		}
		memset(p, 0x11, c.bytes);
		live.push_back(p);
		s.check();
	}
	for (void* p : live) mspace_free(s.ms, p);
	s.check();
}

TEST(Space, IndependentBlocksAreCarvedFromOneAndFreedAlone)
{
	Space s;
	char* dirty = (char*)mspace_malloc(s.ms, 4000);
	memset(dirty, 0xff, 4000);
	mspace_free(s.ms, dirty);

	void** z = mspace_independent_calloc(s.ms, 5, 100, nullptr);
	ASSERT_NE(z, nullptr);
	for (int i = 0; i < 5; ++i) {
		EXPECT_GE(mspace_usable_size(z[i]), 100u);
		for (int j = 0; j < 100; ++j) ASSERT_EQ(((char*)z[i])[j], 0);
		if (i) {
			EXPECT_EQ((char*)z[i] - (char*)z[i - 1], 128);
		}
	}
	size_t sizes[] = {10, 300, 0};
	void* out[3];
	ASSERT_EQ(mspace_independent_comalloc(s.ms, 3, sizes, out), out);
	EXPECT_GE(mspace_usable_size(out[1]), 300u);
	EXPECT_EQ((char*)out[1] - (char*)out[0], 32);
	// Larger than the space: the space grows, though no block may be mapped alone.
	size_t big[] = {1500000, 1500000};
	void* grown[2];
	ASSERT_EQ(mspace_independent_comalloc(s.ms, 2, big, grown), grown);
	memset(grown[0], 1, big[0]);
	memset(grown[1], 2, big[1]);
	s.check();
	for (void* p : grown) mspace_free(s.ms, p);
	for (int i = 0; i < 5; ++i) mspace_free(s.ms, z[i]);
	mspace_free(s.ms, z);
	for (void* p : out) mspace_free(s.ms, p);
	s.check();
}

TEST(Space, StatisticsText)
{
	Space s;
	void* p = mspace_malloc(s.ms, 1000);
	void* q = mspace_malloc(s.ms, 1000);
	mspace_free(s.ms, p);  // a free chunk is not in use
	testing::internal::CaptureStderr();
	mspace_malloc_stats(s.ms);
	std::string text = testing::internal::GetCapturedStderr();
	char want[200];
	snprintf(want, sizeof(want), "max system bytes = %10lu\nsystem bytes     = %10lu\n",
		(unsigned long)(2 * MiB), (unsigned long)(2 * MiB));
	EXPECT_EQ(text.substr(0, strlen(want)), want);
	EXPECT_THAT(text.substr(strlen(want)), testing::MatchesRegex("in use bytes     = +[0-9]+\n"));
	EXPECT_EQ(std::stoul(text.substr(strlen(want) + 19)), mspace_mallinfo(s.ms).uordblks);
	mspace_free(s.ms, q);
}

TEST(Space, CallerMemoryIsNeverUnmapped)
{
	alignas(16) static char arena[64 * 1024];
	mspace ms = create_mspace_with_base(arena, sizeof(arena), 0);
	ASSERT_NE(ms, nullptr);
	std::vector<void*> v;
	for (int i = 0; i < 200; ++i) v.push_back(mspace_malloc(ms, 1000));  // outgrows the arena
	EXPECT_EQ(mspace_footprint(ms), sizeof(arena) + MiB);
	EXPECT_EQ(mspace_check(ms), nullptr);
	for (void* p : v) mspace_free(ms, p);
	EXPECT_EQ(mspace_check(ms), nullptr);
	EXPECT_EQ(destroy_mspace(ms), mspace_footprint(ms) - sizeof(arena));
	memset(arena, 0, sizeof(arena));  // still ours
	EXPECT_EQ(create_mspace_with_base(arena, 200, 0), nullptr);
}

TEST(GlobalHeap, AllocatesAndFrees)
{
	char* p = (char*)dlmalloc(100);
	ASSERT_NE(p, nullptr);
	memset(p, 1, 100);
	p = (char*)dlrealloc(p, 100000);
	ASSERT_NE(p, nullptr);
	EXPECT_EQ(std::string(p, 100), std::string(100, 1));
	size_t page = sysconf(_SC_PAGESIZE);
	void* v = dlpvalloc(page + 1);
	EXPECT_EQ((uintptr_t)v % page, 0u);
	EXPECT_GE(dlmalloc_usable_size(v), 2 * page);
	EXPECT_EQ(dlmalloc(SIZE_MAX - 8), nullptr);
	dlfree(v);
	dlfree(p);
	EXPECT_GE(dlmalloc_max_footprint(), dlmalloc_footprint());
}

TEST(SpaceDeathTest, CorruptFooterOrForeignSpaceEndsTheProcess)
{
	Space s;
	char* p = (char*)mspace_malloc(s.ms, 40);
	size_t usable = mspace_usable_size(p);
	EXPECT_DEATH(
		{
			p[usable] ^= 0x40;  // the footer right after the block
			mspace_free(s.ms, p);
		},
		"");
	EXPECT_DEATH(
		{
			char bogus[64] = {};
			mspace_malloc(bogus, 10);
		},
		"");
	mspace_free(s.ms, p);
}
