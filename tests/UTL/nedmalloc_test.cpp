#include <errno.h>
#include <gtest/gtest.h>
#include <stdint.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "UTL/UTL_new.h"
#include "UTL/nedmalloc.h"

namespace {

struct Pool {
	nedpool* p = nedcreatepool(0, 4);
	~Pool() { neddestroypool(p); }
	size_t in_use() { return nedpmallinfo(p).uordblks; }
};

// Runs f on a thread of its own and waits for it.
template <class F>
void on_thread(F f)
{
	std::thread t(f);
	t.join();
}

}  // namespace

TEST(NedCache, RequestsShareBinsAndComeBackWhereTheyWere)
{
	Pool pool;
	on_thread([&] {
		// Each row: sizes served from one bin, so a freed block serves the next.
		const std::vector<size_t> bins[] = {{1, 16, 24, 32}, {33, 64}, {4097, 8192}};
		for (auto& sizes : bins) {
			void* first = nedpmalloc(pool.p, sizes[0]);
			for (size_t s : sizes) {
				nedpfree(pool.p, first);
				void* again = nedpmalloc(pool.p, s);
				EXPECT_EQ(again, first) << s;
				EXPECT_GE(mspace_usable_size(again), s);
				first = again;
			}
			nedpfree(pool.p, first);
		}
		// 8192 bytes stay in the cache, 8193 are not served from it, and a
		// block too large for it goes back to its space.
		void* cached = nedpmalloc(pool.p, 8192);
		void* edge = nedpmalloc(pool.p, 8200);  // 8208 usable, the most a cache takes
		void* big = nedpmalloc(pool.p, 8300);
		size_t used = pool.in_use();
		nedpfree(pool.p, cached);
		nedpfree(pool.p, edge);
		EXPECT_EQ(pool.in_use(), used);
		void* bypass = nedpmalloc(pool.p, 8193);
		EXPECT_NE(bypass, cached);
		nedpfree(pool.p, bypass);
		used = pool.in_use();
		nedpfree(pool.p, big);
		EXPECT_LT(pool.in_use(), used);
	});
}

TEST(NedCache, OtherThreadsFreesGoToTheirCacheOrTheBlocksSpace)
{
	Pool pool;
	void* small = nedpmalloc(pool.p, 100);
	void* large = nedpmalloc(pool.p, 100000);
	size_t used = pool.in_use();
	on_thread([&] {
		nedpfree(pool.p, small);
		EXPECT_EQ(nedpmalloc(pool.p, 100), small);
		nedpfree(pool.p, small);
		nedpfree(pool.p, large);
		EXPECT_LT(pool.in_use(), used - 90000);  // less the new cache's record
	});
}

TEST(NedCache, FullCacheGivesBackItsOldestBlocks)
{
	Pool pool;
	on_thread([&] {
		std::vector<void*> blocks;
		for (int i = 0; i < 150; ++i) blocks.push_back(nedpmalloc(pool.p, 4096));  // 600 KiB
		size_t used = pool.in_use();
		for (void* b : blocks) nedpfree(pool.p, b);
		size_t given_back = used - pool.in_use();
		EXPECT_GT(given_back, 150 * 4096 - THREADCACHEMAXFREESPACE);
		EXPECT_LT(given_back, 150u * 4096);
		// The newest blocks stayed: the last one freed comes back first.
		EXPECT_EQ(nedpmalloc(pool.p, 4096), blocks.back());
	});
	on_thread([&] {
		// A block counts at its bin's size: 200 aligned blocks of 4000 bytes go
		// to bin 2048, 400 KiB, and all stay.
		std::vector<void*> blocks;
		for (int i = 0; i < 200; ++i) blocks.push_back(nedpmemalign(pool.p, 64, 4000));
		size_t used = pool.in_use();
		for (void* b : blocks) nedpfree(pool.p, b);
		EXPECT_EQ(pool.in_use(), used);
	});
}

// Mend: a thread's cache and the blocks in it go back when the thread ends.
TEST(NedCache, ThreadExitEmptiesItsCache)
{
	Pool pool;
	nedpfree(pool.p, nedpmalloc(pool.p, 64));  // this thread's cache exists
	size_t baseline = pool.in_use();
	for (int round = 0; round < 3; ++round)
		on_thread([&] {
			std::vector<void*> blocks;
			for (int i = 0; i < 100; ++i) blocks.push_back(nedpmalloc(pool.p, 1000));
			for (void* b : blocks) nedpfree(pool.p, b);
		});
	EXPECT_EQ(pool.in_use(), baseline);
}

TEST(NedCache, ReallocCallocAndValues)
{
	Pool pool;
	char* p = (char*)nedprealloc(pool.p, nullptr, 10);
	ASSERT_NE(p, nullptr);
	// Each block is filled whole and must come over whole. A freed block of
	// the new size first, so that the small ones move through the cache.
	const size_t growth[] = {100, 5000, 20000, 400000, 40};
	for (size_t n : growth) {
		memset(p, (int)n, mspace_usable_size(p));
		const std::string kept(p, std::min(mspace_usable_size(p), n));
		void* cached = n <= THREADCACHEMAX ? nedpmalloc(pool.p, n) : nullptr;
		if (cached) nedpfree(pool.p, cached);
		p = (char*)nedprealloc(pool.p, p, n);
		ASSERT_NE(p, nullptr);
		if (cached) {
			EXPECT_EQ(p, cached) << n;
		}
		EXPECT_EQ(std::string(p, kept.size()), kept) << n;
		EXPECT_GE(mspace_usable_size(p), n);
	}
	memset(p, 0xee, mspace_usable_size(p));
	nedpfree(pool.p, p);
	char* z = (char*)nedpcalloc(pool.p, 5, 8);  // the dirty block, from the cache
	EXPECT_EQ(z, p);
	for (int i = 0; i < 40; ++i) ASSERT_EQ(z[i], 0);

	// Mend: an overflowing product fails, even one that wraps to 16 bytes.
	errno = 0;
	EXPECT_EQ(nedpcalloc(pool.p, ((size_t)1 << 60) + 1, 16), nullptr);
	EXPECT_EQ(errno, ENOMEM);

	int tag;
	nedpsetvalue(pool.p, &tag);
	nedpool* owner = nullptr;
	EXPECT_EQ(nedgetvalue(&owner, z), &tag);
	EXPECT_EQ(owner, pool.p);
	// Chunks that are no blocks: one not marked in use, and one whose footer
	// names memory that is no space (a footer is the space's address XOR the
	// stamp).
	alignas(16) static size_t not_a_space[64];
	const size_t space = (size_t)mspace_of_block(z), stamp = *(size_t*)(z + mspace_usable_size(z)) ^ space;
	alignas(16) size_t fakes[2][8] = {
		{0, 32 | 1, 0, 0, space ^ stamp, 1},
		{0, 32 | 3, 0, 0, (size_t)not_a_space ^ stamp, 1},
	};
	for (auto& f : fakes) EXPECT_EQ(nedgetvalue(&owner, &f[2]), nullptr);
	nedpfree(pool.p, z);

	on_thread([&] {
		nedpfree(pool.p, nedpmalloc(pool.p, 100));
		testing::internal::CaptureStdout();
		neddisablethreadcache(pool.p);
		EXPECT_EQ(testing::internal::GetCapturedStdout(),
			"Threadcache utilisation: 0.000000% in cache with 0.000000% lost to other threads\n");
		void* q = nedpmalloc(pool.p, 100);  // no cache any more
		EXPECT_NE(q, nullptr);
		nedpfree(pool.p, q);
	});
}

TEST(NedCacheDeathTest, DoubleAndNullFreesEndTheProcess)
{
	Pool pool;
	EXPECT_DEATH(
		{
			void* p = nedpmalloc(pool.p, 50);
			nedpfree(pool.p, p);
			nedpfree(pool.p, p);
		},
		"^Attempt to free already freed memory block 0x[0-9a-f]+ - aborting!\n$");
	EXPECT_DEATH(nedpfree(pool.p, nullptr), "");
	EXPECT_DEATH(nedfree(nullptr), "");  // the system-allocator build too
}

#ifndef ZUZ_SYSTEM_ALLOCATOR

namespace {
int handler_calls;
rlimit saved_limit;
void raise_limit_on_third_call()
{
	if (++handler_calls == 3) setrlimit(RLIMIT_AS, &saved_limit);
}
void throwing_handler() { throw std::bad_alloc(); }
void odd_handler() { throw std::runtime_error("odd"); }

struct Thrower {
	static void* seen;
	char pad[200];
	Thrower()
	{
		seen = this;
		throw 7;
	}
};
void* Thrower::seen;
}  // namespace

TEST(Operators, EveryFormLandsInTheAllocator)
{
	// Blocks of every form carry this allocator's footer.
	auto* one = new int(5);
	auto* many = new char[0];
	auto* other = new char[0];
	struct alignas(64) Wide {
		char c[3];
	};
	auto* wide = new Wide;
	auto* wide_nt = new (std::nothrow) Wide;
	auto* tagged = new ("label", 12) double[4];
	std::vector<std::string> strings(50, std::string(100, 'x'));  // library containers too
	const void* blocks[] = {one, many, other, wide, wide_nt, tagged, strings.data(), strings[7].data()};
	for (const void* b : blocks) {
		EXPECT_NE(mspace_of_block(b), nullptr) << b;
		EXPECT_EQ((uintptr_t)b % alignof(max_align_t), 0u);
	}
	EXPECT_NE(many, other);
	EXPECT_EQ((uintptr_t)wide % 64, 0u);
	EXPECT_EQ((uintptr_t)wide_nt % 64, 0u);
	// The forms are interchangeable.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
	operator delete[](one);
	operator delete(many);
#pragma GCC diagnostic pop
	delete[] other;
	delete wide;
	delete wide_nt;
	delete[] tagged;
	int* null_int = nullptr;
	delete null_int;
}

TEST(Operators, ExhaustionAndTheNewHandler)
{
	const size_t impossible = SIZE_MAX - 4096;
	volatile size_t impossible_v = impossible;  // hidden from the compiler's size warnings
	EXPECT_THROW(operator delete(operator new(impossible_v)), std::bad_alloc);
	EXPECT_THROW(operator delete[](operator new[](impossible_v, "site", 3)), std::bad_alloc);
	EXPECT_EQ(operator new(impossible_v, std::nothrow), nullptr);
	EXPECT_EQ(operator new[](impossible_v, std::nothrow, "site", 4), nullptr);

	std::set_new_handler(throwing_handler);
	EXPECT_EQ(operator new(impossible_v, std::nothrow), nullptr);
	EXPECT_THROW(operator delete(operator new(impossible_v)), std::bad_alloc);
	// Any other exception ends the program, or is a null for the nothrow forms.
	std::set_new_handler(odd_handler);
	EXPECT_EQ(operator new(impossible_v, std::nothrow), nullptr);
	EXPECT_DEATH(operator delete(operator new(impossible_v)), "instance of 'std::runtime_error'");

	// A handler that makes room is called once per failure until it succeeds.
	getrlimit(RLIMIT_AS, &saved_limit);
	rlimit tight = saved_limit;
	tight.rlim_cur = 1ul << 30;
	setrlimit(RLIMIT_AS, &tight);
	handler_calls = 0;
	std::set_new_handler(raise_limit_on_third_call);
	void* big = operator new(size_t(2) << 30);
	std::set_new_handler(nullptr);
	setrlimit(RLIMIT_AS, &saved_limit);
	EXPECT_EQ(handler_calls, 3);
	operator delete(big);
}

// Mend: the tagged forms have their placement delete, so a throwing
// constructor's block goes back (and comes back at once from the cache).
TEST(Operators, ThrowingConstructorInTaggedNewDoesNotLeak)
{
	EXPECT_THROW(new ("site", 9) Thrower, int);
	void* again = nedmalloc(sizeof(Thrower));
	EXPECT_EQ(again, Thrower::seen);
	nedfree(again);
}

#endif

// The heap checker: 8 threads run a long random sequence of every operation,
// hand blocks to each other to free, and after each operation every space
// the blocks came from is walked and checked.
TEST(NedmallocStress, HeapCheckerAfterEveryOperation)
{
	Pool pool;
	const int nthreads = 8, ops = 3000;
	std::mutex mu;
	std::map<uintptr_t, uintptr_t> live;  // start -> end, for overlap
	std::set<mspace> spaces;
	std::vector<std::vector<std::pair<char*, size_t>>> inbox(nthreads);
	std::vector<std::string> faults(nthreads);

	auto pattern = [](char* p, size_t n) { return (unsigned char)(((uintptr_t)p >> 4) ^ n); };
	auto enter = [&](char* p, size_t n, int t) {
		std::lock_guard<std::mutex> g(mu);
		uintptr_t a = (uintptr_t)p, e = a + (n ? n : 1);
		auto it = live.lower_bound(a);
		if ((it != live.end() && it->first < e) || (it != live.begin() && std::prev(it)->second > a))
			faults[t] = "overlapping blocks";
		live[a] = e;
		spaces.insert(mspace_of_block(p));
	};
	auto leave = [&](char* p, size_t n, int t) {
		unsigned char want = pattern(p, n);
		for (size_t i = 0; i < n; ++i)
			if ((unsigned char)p[i] != want) faults[t] = "block contents changed";
		std::lock_guard<std::mutex> g(mu);
		live.erase((uintptr_t)p);
	};
	auto check_all = [&](int t) {
		std::vector<mspace> now;
		{
			std::lock_guard<std::mutex> g(mu);
			now.assign(spaces.begin(), spaces.end());
		}
		for (mspace m : now)
			if (const char* e = mspace_check(m)) faults[t] = e;
	};

	std::vector<std::thread> threads;
	for (int t = 0; t < nthreads; ++t)
		threads.emplace_back([&, t] {
			std::mt19937 rng(t + 1);
			std::vector<std::pair<char*, size_t>> mine;
			auto size = [&] {
				unsigned r = rng() % 100;
				if (r < 70) return (size_t)(rng() % 300);
				if (r < 95) return (size_t)(rng() % 20000);
				if (r < 99) return (size_t)(rng() % 400000);
				return (size_t)(1 << 20) + rng() % 300000;
			};
			auto keep = [&](char* p, size_t n) {
				if (!p) {
					faults[t] = "allocation failed";
					return;
				}
				if ((uintptr_t)p % 16) faults[t] = "misaligned block";
				if (mspace_usable_size(p) < n) faults[t] = "block smaller than asked";
				enter(p, n, t);
				memset(p, pattern(p, n), n);
				mine.push_back({p, n});
			};
			for (int i = 0; i < ops && faults[t].empty(); ++i) {
				unsigned op = rng() % 10;
				if (op < 3 || mine.empty()) {
					size_t n = size();
					keep((char*)nedpmalloc(pool.p, n), n);
				} else if (op == 3) {
					size_t n = size() / 4;
					char* p = (char*)nedpcalloc(pool.p, 4, n / 4 + 1);
					for (size_t j = 0; p && j < 4 * (n / 4 + 1); ++j)
						if (p[j]) faults[t] = "calloc block not cleared";
					keep(p, 4 * (n / 4 + 1));
				} else if (op == 4) {
					size_t align = (size_t)16 << (rng() % 9), n = size();
					char* p = (char*)nedpmemalign(pool.p, align, n);
					if (p && (uintptr_t)p % align) faults[t] = "memalign alignment";
					keep(p, n);
				} else if (op == 5) {
					size_t k = rng() % mine.size();
					auto [p, n] = mine[k];
					leave(p, n, t);
					size_t m = size();
					char* q = (char*)nedprealloc(pool.p, p, m);
					mine.erase(mine.begin() + k);
					if (q)
						for (size_t j = 0; j < std::min(n, m); ++j)
							if ((unsigned char)q[j] != pattern(p, n)) faults[t] = "realloc lost contents";
					keep(q, m);
				} else if (op == 6) {
					// To another thread, which frees it.
					size_t k = rng() % mine.size();
					std::lock_guard<std::mutex> g(mu);
					inbox[(t + 1 + rng() % (nthreads - 1)) % nthreads].push_back(mine[k]);
					mine.erase(mine.begin() + k);
				} else {
					size_t k = rng() % mine.size();
					leave(mine[k].first, mine[k].second, t);
					nedpfree(pool.p, mine[k].first);
					mine.erase(mine.begin() + k);
				}
				std::vector<std::pair<char*, size_t>> given;
				{
					std::lock_guard<std::mutex> g(mu);
					given.swap(inbox[t]);
				}
				for (auto [p, n] : given) {
					leave(p, n, t);
					nedpfree(pool.p, p);
				}
				check_all(t);
			}
			for (auto [p, n] : mine) {
				leave(p, n, t);
				nedpfree(pool.p, p);
			}
		});
	for (auto& th : threads) th.join();
	for (auto& in : inbox)
		for (auto [p, n] : in) nedpfree(pool.p, p);
	for (int t = 0; t < nthreads; ++t) EXPECT_EQ(faults[t], "") << "thread " << t;
	for (mspace m : spaces) EXPECT_EQ(mspace_check(m), nullptr);
	EXPECT_GE(spaces.size(), 1u);
}
