#include "UTL/nedmalloc.h"

#include <errno.h>
#include <pthread.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// A cached block's first bytes, while it sits in a cache. It stays in use in
// its space.
struct threadcacheblk {
	unsigned lastUsed;  // the cache's `frees` when the block came in
	unsigned size;      // bin size
	threadcacheblk* next;
	threadcacheblk* prev;
};

// 24 bytes of link on this build: a block of 16 usable bytes cannot hold it, so
// the smallest cached block is 32 and bin 0 stays empty.
static const size_t kMinCached = (sizeof(threadcacheblk) + 15) & ~(size_t)15;
// A request of THREADCACHEMAX may be given up to one alignment unit more.
static const size_t kMaxCachedUsable = THREADCACHEMAX + 16;

struct threadcache {
	int mymspace;
	pthread_t threadid;
	unsigned mallocs, frees, successes;
	size_t freeInCache;
	threadcacheblk* bins[(THREADCACHEMAXBINS + 1) * 2];  // head, tail
};

struct nedpool {
	malloc_lock mutex;
	void* uservalue;
	int threads;
	threadcache* caches[THREADCACHEMAXCACHES];
	pthread_key_t mycache;
	mspace m[MAXTHREADSINPOOL + 1];
	nedpool* next_live;  // the pools whose caches a thread's exit must empty
};

static nedpool syspool;
static malloc_lock syspool_init_lock;
static malloc_lock live_pools_lock;
static nedpool* live_pools;

static unsigned highest_bit(size_t x) { return (unsigned)(sizeof(size_t) * 8 - 1 - __builtin_clzl(x)); }

static int pool_threads(nedpool* p) { return __atomic_load_n(&p->threads, __ATOMIC_ACQUIRE); }

// ---------------------------------------------------------------------------
// The cache

static void* threadcache_malloc(threadcache* tc, size_t* size)
{
	size_t sz = *size;
	unsigned idx = highest_bit(sz >> 4);
	size_t bestsize = (size_t)16 << idx;
	if (sz > bestsize) {
		++idx;
		bestsize <<= 1;
	}
	*size = bestsize;
	threadcacheblk** binsptr = &tc->bins[idx * 2];
	threadcacheblk* blk = *binsptr;
	if ((blk == nullptr || blk->size < bestsize) && idx < THREADCACHEMAXBINS) {
		++idx;
		binsptr += 2;
		blk = *binsptr;
	}
	++tc->mallocs;
	if (blk == nullptr) return nullptr;
	size_t blksize = mspace_usable_size(blk);
	if (blksize < kMinCached || blksize > kMaxCachedUsable || blksize < bestsize) abort();
	threadcacheblk* n = blk->next;
	if (blk->prev != nullptr) abort();
	binsptr[0] = n;
	if (n)
		n->prev = nullptr;
	else
		binsptr[1] = nullptr;
	++tc->successes;
	if (tc->freeInCache < blk->size) abort();
	tc->freeInCache -= blk->size;
	return blk;
}

// Frees the blocks at least `age` frees old, oldest first, while the cache
// holds too much; age 0 empties it.
static void release_cached(threadcache* tc, unsigned age)
{
	for (unsigned n = 0; n <= THREADCACHEMAXBINS; ++n) {
		threadcacheblk** binsptr = &tc->bins[n * 2];
		threadcacheblk* blk;
		while ((blk = binsptr[1]) != nullptr && tc->frees - blk->lastUsed >= age) {
			threadcacheblk* prev = blk->prev;
			binsptr[1] = prev;
			if (prev)
				prev->next = nullptr;
			else
				binsptr[0] = nullptr;
			if (tc->freeInCache < blk->size) abort();
			tc->freeInCache -= blk->size;
			mspace_free(nullptr, blk);
		}
	}
}

static void ReleaseFreeInCache(threadcache* tc)
{
	for (unsigned age = 64; age >= 1 && tc->freeInCache >= THREADCACHEMAXFREESPACE; age >>= 1) release_cached(tc, age);
}

static void threadcache_free(threadcache* tc, void* mem, size_t size)
{
	unsigned idx = highest_bit(size >> 4);
	if (size < kMinCached || size > kMaxCachedUsable || idx > THREADCACHEMAXBINS) abort();
	threadcacheblk** binsptr = &tc->bins[idx * 2];
	threadcacheblk* blk = (threadcacheblk*)mem;
	if (*binsptr == blk) {
		fprintf(stderr, "Attempt to free already freed memory block %p - aborting!\n", mem);
		abort();
	}
	blk->lastUsed = ++tc->frees;
	blk->size = (unsigned)(16u << idx);
	blk->next = *binsptr;
	blk->prev = nullptr;
	if (blk->next)
		blk->next->prev = blk;
	else
		binsptr[1] = blk;
	*binsptr = blk;
	tc->freeInCache += blk->size;
	if (tc->freeInCache >= THREADCACHEMAXFREESPACE) ReleaseFreeInCache(tc);
}

// Empties and frees a cache and clears its slot; under the pool lock.
static void destroy_cache(nedpool* p, int n)
{
	threadcache* tc = p->caches[n];
	if (!tc) return;
	release_cached(tc, 0);
	tc->mymspace = -1;
	tc->threadid = pthread_t();
	p->caches[n] = nullptr;
	mspace_free(nullptr, tc);
}

// A thread ends: its caches in every pool go back, and later frees in this
// thread's exit run without a cache.
static void thread_exit_caches(void*)
{
	pthread_t self = pthread_self();
	malloc_lock_take(&live_pools_lock);
	for (nedpool* p = live_pools; p; p = p->next_live) {
		malloc_lock_take(&p->mutex);
		for (int n = 0; n < THREADCACHEMAXCACHES; ++n) {
			threadcache* tc = p->caches[n];
			if (tc && pthread_equal(tc->threadid, self)) {
				int k = tc->mymspace;
				destroy_cache(p, n);
				pthread_setspecific(p->mycache, (void*)(intptr_t)(-(k + 1)));
			}
		}
		malloc_lock_release(&p->mutex);
	}
	malloc_lock_release(&live_pools_lock);
}

// ---------------------------------------------------------------------------
// Pools

static bool InitPool(nedpool* p, size_t capacity, int threads)
{
	malloc_lock_init(&p->mutex);
	malloc_lock_take(&p->mutex);
	int nthreads = threads >= 1 && threads <= MAXTHREADSINPOOL ? threads : MAXTHREADSINPOOL;
	bool key_made = false;
	if (pthread_key_create(&p->mycache, thread_exit_caches) == 0) {
		key_made = true;
		p->m[0] = create_mspace(capacity, 1);
		if (p->m[0]) {
			mspace_set_owner(p->m[0], p);
			malloc_lock_release(&p->mutex);
			malloc_lock_take(&live_pools_lock);
			p->next_live = live_pools;
			live_pools = p;
			malloc_lock_release(&live_pools_lock);
			// Published last: a pool with threads set is ready for other threads.
			__atomic_store_n(&p->threads, nthreads, __ATOMIC_RELEASE);
			return true;
		}
	}
	for (int n = 0; n < THREADCACHEMAXCACHES; ++n) destroy_cache(p, n);
	if (p->m[0]) {
		destroy_mspace(p->m[0]);
		p->m[0] = nullptr;
	}
	if (key_made) pthread_key_delete(p->mycache);
	malloc_lock_release(&p->mutex);
	return false;
}

static nedpool* pool_of(nedpool* p)
{
	if (p) return p;
	if (pool_threads(&syspool) == 0) {
		malloc_lock_take(&syspool_init_lock);
		if (pool_threads(&syspool) == 0 && !InitPool(&syspool, 0, -1)) abort();
		malloc_lock_release(&syspool_init_lock);
	}
	return &syspool;
}

static threadcache* AllocCache(nedpool* p)
{
	malloc_lock_take(&p->mutex);
	int n = 0;
	while (n < THREADCACHEMAXCACHES && p->caches[n]) ++n;
	threadcache* tc = nullptr;
	if (n < THREADCACHEMAXCACHES) {
		// On cache lines of its own: the records of different threads are
		// written at every call and must not share a line.
		size_t size = (sizeof(threadcache) + 63) & ~(size_t)63;
		tc = (threadcache*)mspace_memalign(p->m[0], 64, size);
		if (tc) {
			memset(tc, 0, size);
			tc->threadid = pthread_self();
			p->caches[n] = tc;
			pthread_setspecific(p->mycache, (void*)(intptr_t)(n + 1));
		}
	}
	malloc_lock_release(&p->mutex);
	return tc;
}

// The calling thread's cache in the pool (null when it runs without one) and
// the index of the space it used last.
static threadcache* GetThreadCache(nedpool** pp, int* mymspace)
{
	nedpool* p = *pp = pool_of(*pp);
	intptr_t v = (intptr_t)pthread_getspecific(p->mycache);
	threadcache* tc = nullptr;
	if (v > 0) {
		tc = p->caches[v - 1];
		*mymspace = tc->mymspace;
	} else if (v < 0) {
		*mymspace = (int)(-v - 1);
	} else {
		tc = AllocCache(p);
		if (tc) {
			*mymspace = tc->mymspace;
		} else {
			pthread_setspecific(p->mycache, (void*)(intptr_t)-1);
			*mymspace = 0;
		}
	}
	if (tc && !pthread_equal(tc->threadid, pthread_self())) abort();
	return tc;
}

static int spaces_in(nedpool* p)
{
	int n = 0;
	while (n < MAXTHREADSINPOOL && __atomic_load_n(&p->m[n], __ATOMIC_ACQUIRE)) ++n;
	return n;
}

static malloc_lock* space_lock(mspace m) { return mspace_lock(m); }

// Locks a space for the thread: its last one, another that is free, a new one,
// or at last a wait on its own.
static mspace FindMSpace(nedpool* p, threadcache* tc, int* mymspace)
{
	int k = *mymspace;
	int n = spaces_in(p);
	if (k >= n) k = 0;
	int found = -1;
	if (malloc_lock_try(space_lock(p->m[k]))) {
		found = k;
	} else {
		for (int i = 1; i < n && found < 0; ++i) {
			int j = (k + i) % n;
			if (malloc_lock_try(space_lock(p->m[j]))) found = j;
		}
		if (found < 0 && n < pool_threads(p)) {
			mspace temp = create_mspace(0, 1);
			if (temp) {
				malloc_lock_take(&p->mutex);
				int slot = spaces_in(p);
				if (slot < pool_threads(p)) {
					malloc_lock_take(space_lock(temp));
					__atomic_store_n(&p->m[slot], temp, __ATOMIC_RELEASE);
					found = slot;
				} else {
					destroy_mspace(temp);
				}
				malloc_lock_release(&p->mutex);
			}
		}
		if (found < 0) {
			malloc_lock_take(space_lock(p->m[k]));
			found = k;
		}
	}
	*mymspace = found;
	if (tc)
		tc->mymspace = found;
	else
		pthread_setspecific(p->mycache, (void*)(intptr_t)(-(found + 1)));
	return p->m[found];
}

static void unlock_space(mspace m) { malloc_lock_release(space_lock(m)); }

// Requests the cache may serve are raised to their bin's size, so that a block
// from a space fits the bin it is freed into later.
static size_t cache_size(size_t size)
{
	if (size < kMinCached) return kMinCached;
	if (size > THREADCACHEMAX) return size;
	unsigned idx = highest_bit(size >> 4);
	size_t b = (size_t)16 << idx;
	return size > b ? b << 1 : b;
}

// ---------------------------------------------------------------------------
// Pool entry points

nedpool* nedcreatepool(size_t capacity, int threads)
{
	nedpool* ret = (nedpool*)nedpcalloc(nullptr, 1, sizeof(nedpool));
	if (!ret) return nullptr;
	if (!InitPool(ret, capacity, threads)) {
		nedpfree(nullptr, ret);
		return nullptr;
	}
	return ret;
}

void neddestroypool(nedpool* p)
{
	malloc_lock_take(&live_pools_lock);
	for (nedpool** q = &live_pools; *q; q = &(*q)->next_live)
		if (*q == p) {
			*q = p->next_live;
			break;
		}
	malloc_lock_release(&live_pools_lock);
	malloc_lock_take(&p->mutex);
	for (int n = 0; n < THREADCACHEMAXCACHES; ++n) destroy_cache(p, n);
	for (int n = 0; n < MAXTHREADSINPOOL && p->m[n]; ++n) {
		destroy_mspace(p->m[n]);
		p->m[n] = nullptr;
	}
	pthread_key_delete(p->mycache);
	malloc_lock_release(&p->mutex);
	nedpfree(nullptr, p);
}

void nedpsetvalue(nedpool* p, void* v) { pool_of(p)->uservalue = v; }

void* nedgetvalue(nedpool** p, void* mem)
{
	if (mem == nullptr) return nullptr;
	mspace m = mspace_of_block(mem);
	if (m == nullptr) return nullptr;
	nedpool* np = (nedpool*)mspace_owner(m);
	if (np == nullptr) return nullptr;
	if (p) *p = np;
	return np->uservalue;
}

void neddisablethreadcache(nedpool* p)
{
	p = pool_of(p);
	intptr_t v = (intptr_t)pthread_getspecific(p->mycache);
	if (v == 0) {
		pthread_setspecific(p->mycache, (void*)(intptr_t)-1);
	} else if (v > 0) {
		threadcache* tc = p->caches[v - 1];
		double mallocs = tc->mallocs;
		printf("Threadcache utilisation: %lf%% in cache with %lf%% lost to other threads\n",
			100.0 * tc->successes / mallocs, 100.0 * (mallocs - tc->frees) / mallocs);
		pthread_setspecific(p->mycache, (void*)(intptr_t)(-(tc->mymspace + 1)));
		tc->mymspace = -1;
		tc->threadid = pthread_t();
		malloc_lock_take(&p->mutex);
		p->caches[v - 1] = nullptr;
		malloc_lock_release(&p->mutex);
		mspace_free(nullptr, tc);
	}
}

void* nedpmalloc(nedpool* p, size_t size)
{
	int mymspace;
	threadcache* tc = GetThreadCache(&p, &mymspace);
	size = cache_size(size);
	if (tc && size <= THREADCACHEMAX) {
		void* ret = threadcache_malloc(tc, &size);
		if (ret) return ret;
	}
	mspace m = FindMSpace(p, tc, &mymspace);
	void* ret = mspace_malloc(m, size);
	unlock_space(m);
	return ret;
}

void* nedpcalloc(nedpool* p, size_t count, size_t size)
{
	size_t rsize;
	if (__builtin_mul_overflow(count, size, &rsize)) {
		errno = ENOMEM;
		return nullptr;
	}
	int mymspace;
	threadcache* tc = GetThreadCache(&p, &mymspace);
	rsize = cache_size(rsize);
	if (tc && rsize <= THREADCACHEMAX) {
		void* ret = threadcache_malloc(tc, &rsize);
		if (ret) {
			memset(ret, 0, rsize);
			return ret;
		}
	}
	mspace m = FindMSpace(p, tc, &mymspace);
	void* ret = mspace_calloc(m, 1, rsize);
	unlock_space(m);
	return ret;
}

void nedpfree(nedpool* p, void* mem)
{
	if (mem == nullptr) abort();
	int mymspace;
	threadcache* tc = GetThreadCache(&p, &mymspace);
	if (!mspace_chunk_inuse(mem)) abort();
	size_t blksize = mspace_usable_size(mem);
	if (tc && blksize >= kMinCached && blksize <= kMaxCachedUsable)
		threadcache_free(tc, mem, blksize);
	else
		mspace_free(nullptr, mem);
}

void* nedprealloc(nedpool* p, void* mem, size_t size)
{
	if (mem == nullptr) return nedpmalloc(p, size);
	int mymspace;
	threadcache* tc = GetThreadCache(&p, &mymspace);
	size = cache_size(size);
	if (tc && size <= THREADCACHEMAX) {
		void* ret = threadcache_malloc(tc, &size);
		if (ret) {
			size_t oldsize = mspace_usable_size(mem);
			memcpy(ret, mem, oldsize < size ? oldsize : size);
			if (oldsize >= kMinCached && oldsize <= kMaxCachedUsable)
				threadcache_free(tc, mem, oldsize);
			else
				mspace_free(nullptr, mem);
			return ret;
		}
	}
	// Only the owning space's lock: two threads reallocating each other's
	// blocks must not hold one space each while waiting for the other.
	return mspace_realloc(p->m[0], mem, size);
}

// Operations that never use the cache run in a space locked as for allocation.
template <class F>
static auto in_locked_space(nedpool* p, F f) -> decltype(f(mspace()))
{
	int mymspace;
	threadcache* tc = GetThreadCache(&p, &mymspace);
	mspace m = FindMSpace(p, tc, &mymspace);
	auto ret = f(m);
	unlock_space(m);
	return ret;
}

void* nedpmemalign(nedpool* p, size_t alignment, size_t bytes)
{
	return in_locked_space(p, [&](mspace m) { return mspace_memalign(m, alignment, bytes); });
}

void** nedpindependent_calloc(nedpool* p, size_t count, size_t elemsize, void** chunks)
{
	return in_locked_space(p, [&](mspace m) { return mspace_independent_calloc(m, count, elemsize, chunks); });
}

void** nedpindependent_comalloc(nedpool* p, size_t count, size_t* sizes, void** chunks)
{
	return in_locked_space(p, [&](mspace m) { return mspace_independent_comalloc(m, count, sizes, chunks); });
}

struct mallinfo nedpmallinfo(nedpool* p)
{
	p = pool_of(p);
	struct mallinfo ret = {};
	for (int n = 0; n < MAXTHREADSINPOOL && p->m[n]; ++n) {
		struct mallinfo t = mspace_mallinfo(p->m[n]);
		ret.arena += t.arena;
		ret.ordblks += t.ordblks;
		ret.hblkhd += t.hblkhd;
		ret.usmblks += t.usmblks;
		ret.uordblks += t.uordblks;
		ret.fordblks += t.fordblks;
		ret.keepcost += t.keepcost;
	}
	return ret;
}

int nedpmallopt(nedpool*, int parno, int value) { return mspace_mallopt(parno, value); }

int nedpmalloc_trim(nedpool* p, size_t pad)
{
	p = pool_of(p);
	int ret = 0;
	for (int n = 0; n < MAXTHREADSINPOOL && p->m[n]; ++n) ret += mspace_trim(p->m[n], pad);
	return ret;
}

void nedpmalloc_stats(nedpool* p)
{
	p = pool_of(p);
	for (int n = 0; n < MAXTHREADSINPOOL && p->m[n]; ++n) mspace_malloc_stats(p->m[n]);
}

size_t nedpmalloc_footprint(nedpool* p)
{
	p = pool_of(p);
	size_t ret = 0;
	for (int n = 0; n < MAXTHREADSINPOOL && p->m[n]; ++n) ret += mspace_footprint(p->m[n]);
	return ret;
}

// ---------------------------------------------------------------------------
// The default pool

void nedsetvalue(void* v) { nedpsetvalue(nullptr, v); }

#ifndef ZUZ_SYSTEM_ALLOCATOR

struct mallinfo nedmallinfo() { return nedpmallinfo(nullptr); }
int nedmallopt(int parno, int value) { return nedpmallopt(nullptr, parno, value); }
int nedmalloc_trim(size_t pad) { return nedpmalloc_trim(nullptr, pad); }
void nedmalloc_stats() { nedpmalloc_stats(nullptr); }
size_t nedmalloc_footprint() { return nedpmalloc_footprint(nullptr); }

void* nedmalloc(size_t size) { return nedpmalloc(nullptr, size); }
void* nedcalloc(size_t count, size_t size) { return nedpcalloc(nullptr, count, size); }
void* nedrealloc(void* mem, size_t size) { return nedprealloc(nullptr, mem, size); }
void nedfree(void* mem) { nedpfree(nullptr, mem); }
void* nedmemalign(size_t alignment, size_t bytes) { return nedpmemalign(nullptr, alignment, bytes); }
size_t nedblksize(void* mem) { return mspace_usable_size(mem); }
void** nedindependent_calloc(size_t count, size_t elemsize, void** chunks)
{
	return nedpindependent_calloc(nullptr, count, elemsize, chunks);
}
void** nedindependent_comalloc(size_t count, size_t* sizes, void** chunks)
{
	return nedpindependent_comalloc(nullptr, count, sizes, chunks);
}

#else

// The C library's allocator, so that the sanitizers see every block. Its
// mallinfo2 record has the same ten size_t fields in the same order; its
// parameters -1 and -3 are ours, -2 pads the top instead of setting the unit.
extern "C" {
size_t malloc_usable_size(void*);
struct mallinfo mallinfo2();
int malloc_trim(size_t pad);
void malloc_stats();
int mallopt(int param, int value);
}

struct mallinfo nedmallinfo() { return mallinfo2(); }
int nedmallopt(int parno, int value) { return mallopt(parno, value); }
int nedmalloc_trim(size_t pad) { return malloc_trim(pad); }
void nedmalloc_stats() { malloc_stats(); }
size_t nedmalloc_footprint()
{
	struct mallinfo mi = mallinfo2();
	return mi.arena + mi.hblkhd;
}

void* nedmalloc(size_t size) { return malloc(size ? size : 1); }
void* nedcalloc(size_t count, size_t size) { return calloc(count, size); }
void* nedrealloc(void* mem, size_t size) { return realloc(mem, size); }
// Null is refused here too, so that the sanitizer and fuzz builds see such a call.
void nedfree(void* mem)
{
	if (mem == nullptr) abort();
	free(mem);
}
void* nedmemalign(size_t alignment, size_t bytes)
{
	void* p = nullptr;
	if (alignment < sizeof(void*)) alignment = sizeof(void*);
	return posix_memalign(&p, alignment, bytes) == 0 ? p : nullptr;
}

size_t nedblksize(void* mem) { return mem ? malloc_usable_size(mem) : 0; }

// Each block on its own, so that each can be freed on its own.
static void** separate_blocks(size_t count, const size_t* sizes, bool same, void** chunks)
{
	void** out = chunks ? chunks : (void**)calloc(count ? count : 1, sizeof(void*));
	if (!out) return nullptr;
	for (size_t i = 0; i < count; ++i) {
		out[i] = calloc(1, same ? sizes[0] : sizes[i]);
		if (!out[i]) {
			while (i > 0) free(out[--i]);
			if (!chunks) free(out);
			return nullptr;
		}
	}
	return out;
}
void** nedindependent_calloc(size_t count, size_t elemsize, void** chunks)
{
	return separate_blocks(count, &elemsize, true, chunks);
}
void** nedindependent_comalloc(size_t count, size_t* sizes, void** chunks)
{
	return separate_blocks(count, sizes, false, chunks);
}

#endif
