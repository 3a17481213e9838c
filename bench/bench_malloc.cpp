// The program's allocator against the C library's, jemalloc, tcmalloc and
// mimalloc, side by side. Each workload runs in a child process of its own, so
// that its peak resident memory is its own; the peers replace malloc through
// LD_PRELOAD, ours runs through a pool of its own (so the build may keep the
// C library's allocator or not).
//
//   bench_malloc [rounds=3]                  the table
//   bench_malloc --one ALLOCATOR WORKLOAD   one run: prints seconds and peak KiB
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "UTL/nedmalloc.h"

static nedpool* pool;
static bool ours;

static void* xmalloc(size_t n) { return ours ? nedpmalloc(pool, n) : malloc(n); }
static void xfree(void* p) { ours ? nedpfree(pool, p) : free(p); }
static void* xrealloc(void* p, size_t n) { return ours ? nedprealloc(pool, p, n) : realloc(p, n); }

// Cheap per-thread random numbers, the same sequence for every allocator.
struct Rng {
	uint64_t s;
	uint32_t next()
	{
		s = s * 6364136223846793005ull + 1442695040888963407ull;
		return (uint32_t)(s >> 33);
	}
	// 8 B to 8 KiB, smaller sizes more often.
	size_t small_size() { return (size_t)8 << (next() % 11) >> (next() % 4 == 0 ? 0 : 1); }
};

static void churn(unsigned seed, int ops)
{
	const int slots = 2000;
	std::vector<char*> live(slots, nullptr);
	Rng r{seed};
	for (int i = 0; i < ops; ++i) {
		int k = r.next() % slots;
		if (live[k]) xfree(live[k]);
		size_t n = r.small_size();
		if (n < 8) n = 8;
		live[k] = (char*)xmalloc(n);
		live[k][0] = (char)i;
		live[k][n - 1] = (char)i;
	}
	for (char* p : live)
		if (p) xfree(p);
}

static void threads_churn(int nthreads, int ops_total)
{
	std::vector<std::thread> ts;
	for (int t = 0; t < nthreads; ++t) ts.emplace_back(churn, t + 1, ops_total / nthreads);
	for (auto& t : ts) t.join();
}

// Producers allocate, consumers on other threads free, through bounded rings.
static void producer_consumer(int pairs, int per_pair)
{
	const int ring = 4096;
	struct Ring {
		std::vector<void*> slot = std::vector<void*>(4096);
		std::atomic<unsigned> head{0}, tail{0};
	};
	std::vector<Ring> rings(pairs);
	std::vector<std::thread> ts;
	for (int pr = 0; pr < pairs; ++pr) {
		ts.emplace_back([&, pr] {
			Ring& q = rings[pr];
			Rng r{(uint64_t)pr + 7};
			for (int i = 0; i < per_pair; ++i) {
				size_t n = r.small_size();
				char* p = (char*)xmalloc(n);
				memset(p, i, n < 64 ? n : 64);
				unsigned h = q.head.load(std::memory_order_relaxed);
				while (h - q.tail.load(std::memory_order_acquire) >= (unsigned)ring) std::this_thread::yield();
				q.slot[h % ring] = p;
				q.head.store(h + 1, std::memory_order_release);
			}
		});
		ts.emplace_back([&, pr] {
			Ring& q = rings[pr];
			for (int i = 0; i < per_pair; ++i) {
				unsigned t = q.tail.load(std::memory_order_relaxed);
				while (q.head.load(std::memory_order_acquire) == t) std::this_thread::yield();
				xfree(q.slot[t % ring]);
				q.tail.store(t + 1, std::memory_order_release);
			}
		});
	}
	for (auto& t : ts) t.join();
}

static void large_and_realloc(int rounds)
{
	Rng r{99};
	for (int i = 0; i < rounds; ++i) {
		size_t n = (size_t)65536 << (r.next() % 7);  // 64 KiB to 4 MiB
		char* p = (char*)xmalloc(n);
		for (size_t j = 0; j < n; j += 4096) p[j] = (char)j;
		xfree(p);
		char* g = nullptr;
		for (size_t m = 16; m < ((size_t)1 << 20); m += m / 2 + 1) {
			g = (char*)xrealloc(g, m);
			g[m - 1] = 1;
		}
		xfree(g);
	}
}

static const struct Workload {
	const char* name;
	std::function<void()> run;
} workloads[] = {
	{"single-thread churn", [] { churn(1, 4000000); }},
	{"local churn 1 thread", [] { threads_churn(1, 4000000); }},
	{"local churn 2 threads", [] { threads_churn(2, 4000000); }},
	{"local churn 4 threads", [] { threads_churn(4, 4000000); }},
	{"local churn 8 threads", [] { threads_churn(8, 4000000); }},
	{"producer/consumer x4", [] { producer_consumer(4, 500000); }},
	{"large + realloc", [] { large_and_realloc(300); }},
};

static const struct Allocator {
	const char* name;
	const char* preload;  // null: none
} allocators[] = {
	{"ours", nullptr},
	{"glibc", nullptr},
	{"jemalloc", "/usr/lib/x86_64-linux-gnu/libjemalloc.so.2"},
	{"tcmalloc", "/usr/lib/x86_64-linux-gnu/libtcmalloc_minimal.so.4"},
	{"mimalloc", "/usr/lib/x86_64-linux-gnu/libmimalloc.so.2"},
};

static double now()
{
	return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

static int run_one(const char* alloc, const char* workload)
{
	ours = strcmp(alloc, "ours") == 0;
	if (ours) pool = nedcreatepool(0, 4);
	for (auto& w : workloads)
		if (w.name == std::string(workload)) {
			double t0 = now();
			w.run();
			double t = now() - t0;
			rusage ru;
			getrusage(RUSAGE_SELF, &ru);
			printf("%.6f %ld\n", t, ru.ru_maxrss);
			return 0;
		}
	return 1;
}

// Runs one workload in a child; false when it could not run.
static bool measure(const char* self, const Allocator& a, const Workload& w, double* secs, long* kib)
{
	if (a.preload && access(a.preload, R_OK) != 0) return false;
	std::string cmd = std::string(a.preload ? std::string("LD_PRELOAD=") + a.preload + " " : "") + "'" + self +
		"' --one " + a.name + " '" + w.name + "'";
	FILE* p = popen(cmd.c_str(), "r");
	if (!p) return false;
	bool ok = fscanf(p, "%lf %ld", secs, kib) == 2;
	return pclose(p) == 0 && ok;
}

int main(int argc, char** argv)
{
	if (argc == 4 && strcmp(argv[1], "--one") == 0) return run_one(argv[2], argv[3]);
	int rounds = argc > 1 ? atoi(argv[1]) : 3;
	const int na = sizeof(allocators) / sizeof(allocators[0]);

	printf("%-22s", "seconds (best of runs)");
	for (auto& a : allocators) printf(" %9s", a.name);
	printf("  ours/glibc ours/mimalloc\n");
	std::vector<long> peak(na, 0);
	for (auto& w : workloads) {
		std::vector<double> best(na, 1e30);
		for (int r = 0; r < rounds; ++r)
			for (int i = 0; i < na; ++i) {
				double s;
				long k;
				if (measure(argv[0], allocators[i], w, &s, &k) && s < best[i]) {
					best[i] = s;
					if (strncmp(w.name, "producer", 8) == 0) peak[i] = k;
				}
			}
		printf("%-22s", w.name);
		for (int i = 0; i < na; ++i)
			if (best[i] < 1e29)
				printf(" %9.3f", best[i]);
			else
				printf(" %9s", "-");
		printf("  %10.2f %13.2f\n", best[0] / best[1], best[0] / best[na - 1]);
	}
	printf("%-22s", "peak KiB, prod/cons");
	for (int i = 0; i < na; ++i) printf(" %9ld", peak[i]);
	printf("  %10.2f\n", peak[1] ? (double)peak[0] / peak[1] : 0.0);
	return 0;
}
