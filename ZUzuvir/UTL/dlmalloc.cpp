#include "UTL/dlmalloc.h"

#include <errno.h>
#include <sched.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// ---------------------------------------------------------------------------
// Locks

void malloc_lock_init(malloc_lock* lk)
{
	lk->owner.store(pthread_t(), std::memory_order_relaxed);
	lk->count.store(0, std::memory_order_relaxed);
	lk->word.store(0, std::memory_order_release);
}

static bool lock_owned_by_me(malloc_lock* lk)
{
	return lk->word.load(std::memory_order_relaxed) != 0 &&
		pthread_equal(lk->owner.load(std::memory_order_relaxed), pthread_self());
}

static bool lock_grab(malloc_lock* lk)
{
	int expected = 0;
	if (!lk->word.compare_exchange_strong(expected, 1, std::memory_order_acquire)) return false;
	if (lk->owner.load(std::memory_order_relaxed) != pthread_t()) abort();
	lk->owner.store(pthread_self(), std::memory_order_relaxed);
	lk->count.store(1, std::memory_order_relaxed);
	return true;
}

// Only the owner touches the count, so it needs no locked instruction.
static void count_up(malloc_lock* lk)
{
	lk->count.store(lk->count.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

void malloc_lock_take(malloc_lock* lk)
{
	if (lock_owned_by_me(lk)) {
		count_up(lk);
		return;
	}
	for (unsigned spins = 1; !lock_grab(lk); ++spins)
		if (spins % 64 == 0) sched_yield();
}

bool malloc_lock_try(malloc_lock* lk)
{
	if (lock_owned_by_me(lk)) {
		count_up(lk);
		return true;
	}
	return lock_grab(lk);
}

void malloc_lock_release(malloc_lock* lk)
{
	if (!lock_owned_by_me(lk)) abort();
	unsigned count = lk->count.load(std::memory_order_relaxed) - 1;
	lk->count.store(count, std::memory_order_relaxed);
	if (count == 0) {
		lk->owner.store(pthread_t(), std::memory_order_relaxed);
		lk->word.store(0, std::memory_order_release);
	}
}

// ---------------------------------------------------------------------------
// Chunks. A chunk starts with the previous chunk's last word (its size while
// it is free, else the footer) and its own head; user memory follows at
// 2 words, 16-byte aligned. Sizes are multiples of 16.

typedef unsigned int binmap_t;

static const size_t kWord = sizeof(size_t);
static const size_t kSizeBits = kWord * CHAR_BIT;
static const size_t kAlign = 16;  // alignof(max_align_t)
static const size_t kAlignMask = kAlign - 1;
static const size_t kOverhead = 2 * kWord;  // head and footer
static const size_t kMinChunk = 4 * kWord;  // head, footer and two links
static const size_t kMaxRequest = (size_t)(-(ptrdiff_t)kMinChunk) << 2;
static const size_t kMinRequest = kMinChunk - kOverhead - 1;
static const size_t kMmapFootPad = 4 * kWord;

static const size_t PINUSE = 1, CINUSE = 2, INUSE = 3;
static const size_t kFencepost = INUSE | kWord;
static const size_t IS_MMAPPED = 1;  // in the previous-size word of a mapped chunk

static const int kSmallBins = 32, kTreeBins = 32;
static const size_t kSmallShift = 3, kTreeShift = 8;
static const size_t kMinLarge = (size_t)1 << kTreeShift;
static const size_t kMaxSmall = kMinLarge - 1;
static const size_t kMaxSmallRequest = kMaxSmall - kAlignMask - kOverhead;
static const unsigned kMaxReleaseChecks = 4095;

static const unsigned USE_MMAP = 1, USE_LOCK = 2, NONCONTIGUOUS = 4;
static const unsigned SEG_MMAPPED = 1, SEG_EXTERN = 8;

// The global build's stamp: the word spelled "XXXX".
static const size_t kGlobalMagic = 0x58585858;

struct malloc_chunk {
	size_t prev_foot;
	size_t head;
	malloc_chunk* fd;
	malloc_chunk* bk;
};
typedef malloc_chunk* mchunkptr;

struct malloc_tree_chunk {
	size_t prev_foot;
	size_t head;
	malloc_tree_chunk* fd;
	malloc_tree_chunk* bk;
	malloc_tree_chunk* child[2];
	malloc_tree_chunk* parent;  // null for the root and for chained twins
	unsigned index;
};
typedef malloc_tree_chunk* tchunkptr;

struct malloc_segment {
	char* base;
	size_t size;
	malloc_segment* next;
	unsigned flags;
};

// Bin heads are list sentinels: only their links are used.
struct bin_head {
	size_t unused[2];
	mchunkptr fd;
	mchunkptr bk;
};

struct malloc_state {
	binmap_t smallmap;
	binmap_t treemap;
	size_t dvsize;
	size_t topsize;
	char* least_addr;
	mchunkptr dv;
	mchunkptr top;
	size_t trim_check;
	size_t release_checks;
	size_t magic;
	bin_head smallbins[kSmallBins];
	tchunkptr treebins[kTreeBins];
	size_t footprint;
	size_t max_footprint;
	unsigned mflags;
	malloc_lock mutex;
	malloc_segment seg;
	void* extp;
	size_t exts;
};
typedef malloc_state* mstate;

struct malloc_params {
	size_t magic;
	size_t page_size;
	size_t granularity;
	size_t mmap_threshold;
	size_t trim_threshold;
	unsigned default_mflags;
};

static malloc_params mparams;
static std::atomic<bool> mparams_ready;
static malloc_lock magic_init_mutex;

static inline void* chunk2mem(const void* p) { return (char*)p + kOverhead; }
static inline mchunkptr mem2chunk(const void* mem) { return (mchunkptr)((char*)mem - kOverhead); }
static inline size_t pad_request(size_t req) { return (req + kOverhead + kAlignMask) & ~kAlignMask; }
static inline size_t request2size(size_t req) { return req < kMinRequest ? kMinChunk : pad_request(req); }
static inline size_t chunksize(const void* p) { return ((mchunkptr)p)->head & ~(size_t)7; }
static inline bool cinuse(const void* p) { return ((mchunkptr)p)->head & CINUSE; }
static inline bool pinuse(const void* p) { return ((mchunkptr)p)->head & PINUSE; }
static inline mchunkptr chunk_at(const void* p, size_t off) { return (mchunkptr)((char*)p + off); }
static inline mchunkptr next_chunk(const void* p) { return chunk_at(p, chunksize(p)); }
static inline bool is_mmapped(const void* p)
{
	return !pinuse(p) && (((mchunkptr)p)->prev_foot & IS_MMAPPED);
}
static inline size_t align_offset(const void* a)
{
	size_t r = (size_t)a & kAlignMask;
	return r ? kAlign - r : 0;
}
static inline mchunkptr align_as_chunk(char* base) { return (mchunkptr)(base + align_offset(chunk2mem(base))); }

static inline bool is_small(size_t s) { return (s >> kSmallShift) < (size_t)kSmallBins; }
static inline unsigned small_index(size_t s) { return (unsigned)(s >> kSmallShift); }
static inline size_t small_index2size(unsigned i) { return (size_t)i << kSmallShift; }
static inline binmap_t idx2bit(unsigned i) { return (binmap_t)1 << i; }
static inline binmap_t left_bits(binmap_t x) { return (x << 1) | (binmap_t)(-(int)(x << 1)); }
static inline unsigned lowest_bit_index(binmap_t x) { return (unsigned)__builtin_ctz(x); }

static inline unsigned tree_index(size_t s)
{
	size_t x = s >> kTreeShift;
	if (x == 0) return 0;
	if (x > 0xFFFF) return kTreeBins - 1;
	unsigned k = (unsigned)(kSizeBits - 1 - __builtin_clzl(x));
	return (k << 1) + (unsigned)((s >> (k + (kTreeShift - 1))) & 1);
}
static inline size_t minsize_for_tree_index(unsigned i)
{
	return ((size_t)1 << ((i >> 1) + kTreeShift)) | ((size_t)(i & 1) << ((i >> 1) + kTreeShift - 1));
}
// Shift that brings the first key bit below a bin's fixed leading bits to the top.
static inline size_t leftshift_for_tree_index(unsigned i)
{
	return i == (unsigned)kTreeBins - 1 ? 0 : (kSizeBits - 1) - ((i >> 1) + kTreeShift - 2);
}
static inline tchunkptr leftmost_child(tchunkptr t) { return t->child[0] ? t->child[0] : t->child[1]; }

static inline mchunkptr smallbin_at(mstate m, unsigned i) { return (mchunkptr)&m->smallbins[i]; }

static inline bool use_lock(mstate m) { return m->mflags & USE_LOCK; }
static inline bool use_mmap(mstate m) { return m->mflags & USE_MMAP; }
static inline bool is_initialized(mstate m) { return m->top != nullptr; }
static inline bool ok_address(mstate m, const void* a) { return (const char*)a >= m->least_addr; }
static inline bool ok_next(const void* p, const void* n) { return (const char*)p < (const char*)n; }
static inline bool is_extern_segment(const malloc_segment* s) { return s->flags & SEG_EXTERN; }
static inline bool is_mmapped_segment(const malloc_segment* s) { return s->flags & SEG_MMAPPED; }
static inline bool segment_holds(const malloc_segment* s, const void* a)
{
	return (const char*)a >= s->base && (const char*)a < s->base + s->size;
}

static inline size_t granularity_align(size_t s) { return (s + mparams.granularity) & ~(mparams.granularity - 1); }
static inline size_t page_align(size_t s) { return (s + mparams.page_size - 1) & ~(mparams.page_size - 1); }

// An in-use chunk's head is read by its owner without the space's lock, while
// a neighbour's release, under the lock, turns its previous-in-use bit; and
// nedgetvalue reads neighbours without the lock. Heads and footers are written
// and those lock-free reads made with relaxed atomics (plain moves on this
// machine); the size bits of an in-use chunk never change under its owner.
static inline size_t load_head(const void* p) { return __atomic_load_n(&((mchunkptr)p)->head, __ATOMIC_RELAXED); }
static inline void store_head(void* p, size_t v) { __atomic_store_n(&((mchunkptr)p)->head, v, __ATOMIC_RELAXED); }
static inline void store_foot(void* p, size_t v) { __atomic_store_n(&((mchunkptr)p)->prev_foot, v, __ATOMIC_RELAXED); }
static inline void set_pinuse_of(mchunkptr n)
{
	__atomic_store_n(&n->head, __atomic_load_n(&n->head, __ATOMIC_RELAXED) | PINUSE, __ATOMIC_RELAXED);
}
static inline void clear_pinuse_of(mchunkptr n)
{
	__atomic_store_n(&n->head, __atomic_load_n(&n->head, __ATOMIC_RELAXED) & ~PINUSE, __ATOMIC_RELAXED);
}

// Footers: the word after an in-use chunk names its space, XOR the stamp.
static inline void mark_inuse_foot(mstate m, mchunkptr p, size_t s)
{
	store_foot(chunk_at(p, s), (size_t)m ^ m->magic);
}
static inline mstate space_from_footer(mchunkptr p, size_t magic)
{
	return (mstate)(chunk_at(p, load_head(p) & ~(size_t)7)->prev_foot ^ magic);
}
// In use, keeping this chunk's previous-in-use bit.
static inline void set_inuse(mstate m, mchunkptr p, size_t s)
{
	store_head(p, (p->head & PINUSE) | s | CINUSE);
	set_pinuse_of(chunk_at(p, s));
	mark_inuse_foot(m, p, s);
}
static inline void set_inuse_and_pinuse(mstate m, mchunkptr p, size_t s)
{
	store_head(p, s | PINUSE | CINUSE);
	set_pinuse_of(chunk_at(p, s));
	mark_inuse_foot(m, p, s);
}
static inline void set_size_and_pinuse_of_inuse_chunk(mstate m, mchunkptr p, size_t s)
{
	store_head(p, s | PINUSE | CINUSE);
	mark_inuse_foot(m, p, s);
}
static inline void set_size_and_pinuse_of_free_chunk(mchunkptr p, size_t s)
{
	store_head(p, s | PINUSE);
	store_foot(chunk_at(p, s), s);
}
static inline void set_free_with_pinuse(mchunkptr p, size_t s, mchunkptr n)
{
	clear_pinuse_of(n);
	set_size_and_pinuse_of_free_chunk(p, s);
}

// `hint`: where the kernel should place the mapping if that range is free.
static void* os_map(size_t size, void* hint = nullptr)
{
	void* p = mmap(hint, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
	return p == MAP_FAILED ? nullptr : p;
}

// ---------------------------------------------------------------------------
// Program-wide parameters

static void init_mparams()
{
	malloc_lock_take(&magic_init_mutex);
	if (!mparams_ready.load(std::memory_order_relaxed)) {
		mparams.page_size = 4096;
		mparams.granularity = 1048576;
		mparams.mmap_threshold = 262144;
		mparams.trim_threshold = 2097152;
		mparams.default_mflags = USE_MMAP | USE_LOCK | NONCONTIGUOUS;
		size_t magic = (size_t)time(nullptr) ^ (size_t)0x55555555U;
		magic |= 8;
		magic &= ~(size_t)7;
		mparams.magic = magic;
		mparams_ready.store(true, std::memory_order_release);
	}
	malloc_lock_release(&magic_init_mutex);
}

static inline void ensure_mparams()
{
	if (!mparams_ready.load(std::memory_order_acquire)) init_mparams();
}

static int change_mparam(int param, int value)
{
	ensure_mparams();
	size_t val = value == -1 ? SIZE_MAX : (size_t)value;
	switch (param) {
	case -1: mparams.trim_threshold = val; return 1;
	case -2:
		if (val >= mparams.page_size && (val & (val - 1)) == 0) {
			mparams.granularity = val;
			return 1;
		}
		return 0;
	case -3: mparams.mmap_threshold = val; return 1;
	default: return 0;
	}
}

// A space carries the stamp of its build; anything else is not a space.
static inline void check_magic(mstate m, size_t magic)
{
	if (m->magic != magic) abort();
}

struct space_guard {
	mstate m;
	explicit space_guard(mstate in) : m(in)
	{
		if (use_lock(m)) malloc_lock_take(&m->mutex);
	}
	~space_guard()
	{
		if (use_lock(m)) malloc_lock_release(&m->mutex);
	}
};

// ---------------------------------------------------------------------------
// Bins

static void insert_small_chunk(mstate m, mchunkptr p, size_t s)
{
	unsigned i = small_index(s);
	mchunkptr b = smallbin_at(m, i);
	mchunkptr f = b;
	if (m->smallmap & idx2bit(i)) {
		f = b->fd;
		if (!ok_address(m, f)) abort();
	} else {
		m->smallmap |= idx2bit(i);
	}
	b->fd = p;
	f->bk = p;
	p->fd = f;
	p->bk = b;
}

static void unlink_small_chunk(mstate m, mchunkptr p, size_t s)
{
	mchunkptr f = p->fd, b = p->bk;
	unsigned i = small_index(s);
	if (f->bk != p || b->fd != p) abort();
	f->bk = b;
	b->fd = f;
	if (f == b) {
		if (f != smallbin_at(m, i)) abort();
		m->smallmap &= ~idx2bit(i);
	}
}

static void unlink_first_small_chunk(mstate m, mchunkptr b, mchunkptr p, unsigned i)
{
	mchunkptr f = p->fd;
	if (p->bk != b || f->bk != p) abort();
	b->fd = f;
	f->bk = b;
	if (b == f) m->smallmap &= ~idx2bit(i);
}

// The designated victim is replaced; the old one goes into its bin.
static void replace_dv(mstate m, mchunkptr p, size_t s)
{
	if (m->dvsize) {
		if (!is_small(m->dvsize)) abort();
		insert_small_chunk(m, m->dv, m->dvsize);
	}
	m->dvsize = s;
	m->dv = p;
}

static void insert_large_chunk(mstate m, tchunkptr x, size_t s)
{
	unsigned i = tree_index(s);
	tchunkptr* h = &m->treebins[i];
	x->index = i;
	x->child[0] = x->child[1] = nullptr;
	x->parent = nullptr;
	if (!(m->treemap & idx2bit(i))) {
		m->treemap |= idx2bit(i);
		*h = x;
		x->fd = x->bk = x;
		return;
	}
	tchunkptr t = *h;
	size_t k = s << leftshift_for_tree_index(i);
	for (;;) {
		if (chunksize(t) != s) {
			tchunkptr* c = &t->child[(k >> (kSizeBits - 1)) & 1];
			k <<= 1;
			if (*c) {
				t = *c;
			} else {
				if (!ok_address(m, c)) abort();
				*c = x;
				x->parent = t;
				x->fd = x->bk = x;
				return;
			}
		} else {
			// A twin: chained behind the tree node, outside the tree.
			tchunkptr f = t->fd;
			if (!ok_address(m, t) || !ok_address(m, f)) abort();
			t->fd = f->bk = x;
			x->fd = f;
			x->bk = t;
			return;
		}
	}
}

static inline bool in_tree(mstate m, tchunkptr x)
{
	return x->parent != nullptr || m->treebins[x->index] == x;
}

static void unlink_large_chunk(mstate m, tchunkptr x)
{
	tchunkptr r;
	bool node = in_tree(m, x);
	if (x->bk != x) {
		tchunkptr f = x->fd;
		r = x->bk;
		if (!ok_address(m, f) || f->bk != x || r->fd != x) abort();
		f->bk = r;
		r->fd = f;
	} else {
		// No twin: the deepest leaf below x takes its place.
		tchunkptr* rp = &x->child[1];
		if ((r = *rp) != nullptr || (r = *(rp = &x->child[0])) != nullptr) {
			tchunkptr* cp;
			while (*(cp = &r->child[1]) != nullptr || *(cp = &r->child[0]) != nullptr) r = *(rp = cp);
			if (!ok_address(m, rp)) abort();
			*rp = nullptr;
		}
	}
	if (!node) return;
	tchunkptr xp = x->parent;
	if (xp == nullptr) {
		m->treebins[x->index] = r;
		if (r == nullptr) m->treemap &= ~idx2bit(x->index);
	} else {
		if (!ok_address(m, xp)) abort();
		if (xp->child[0] == x)
			xp->child[0] = r;
		else if (xp->child[1] == x)
			xp->child[1] = r;
		else
			abort();
	}
	if (r != nullptr) {
		r->parent = xp;
		for (int j = 0; j < 2; ++j) {
			tchunkptr c = x->child[j];
			if (c != nullptr) {
				if (!ok_address(m, c)) abort();
				r->child[j] = c;
				c->parent = r;
			}
		}
		r->index = x->index;
	}
}

static size_t release_unused_segments(mstate m);

static void insert_chunk(mstate m, mchunkptr p, size_t s)
{
	if (is_small(s)) {
		insert_small_chunk(m, p, s);
	} else {
		insert_large_chunk(m, (tchunkptr)p, s);
	}
}

static void unlink_chunk(mstate m, mchunkptr p, size_t s)
{
	if (is_small(s))
		unlink_small_chunk(m, p, s);
	else
		unlink_large_chunk(m, (tchunkptr)p);
}

// ---------------------------------------------------------------------------
// Segments and the system

static malloc_segment* segment_holding(mstate m, const void* a)
{
	for (malloc_segment* sp = &m->seg; sp; sp = sp->next)
		if (segment_holds(sp, a)) return sp;
	return nullptr;
}

// Whether the record of another segment lies inside ss.
static bool has_segment_link(mstate m, malloc_segment* ss)
{
	for (malloc_segment* sp = &m->seg; sp; sp = sp->next)
		if (sp != ss && segment_holds(ss, sp)) return true;
	return false;
}

static size_t top_foot_size()
{
	return align_offset(chunk2mem(nullptr)) + pad_request(sizeof(malloc_segment)) + kMinChunk;
}

static void init_top(mstate m, mchunkptr p, size_t psize)
{
	size_t off = align_offset(chunk2mem(p));
	p = chunk_at(p, off);
	psize -= off;
	m->top = p;
	m->topsize = psize;
	store_head(p, psize | PINUSE);
	store_head(chunk_at(p, psize), top_foot_size());
	m->trim_check = mparams.trim_threshold;
}

static void init_bins(mstate m)
{
	for (unsigned i = 0; i < (unsigned)kSmallBins; ++i) {
		mchunkptr b = smallbin_at(m, i);
		b->fd = b->bk = b;
	}
}

static void* mmap_alloc(mstate m, size_t nb)
{
	size_t mmsize = granularity_align(nb + 6 * kWord + kAlignMask);
	if (mmsize <= nb) return nullptr;
	char* mm = (char*)os_map(mmsize);
	if (!mm) return nullptr;
	size_t offset = align_offset(chunk2mem(mm));
	size_t psize = mmsize - offset - kMmapFootPad;
	mchunkptr p = (mchunkptr)(mm + offset);
	store_foot(p, offset | IS_MMAPPED);
	store_head(p, psize | CINUSE);
	mark_inuse_foot(m, p, psize);
	store_head(chunk_at(p, psize), kFencepost);
	store_head(chunk_at(p, psize + kWord), 0);
	if (mm < m->least_addr) __atomic_store_n(&m->least_addr, mm, __ATOMIC_RELAXED);  // read by nedgetvalue
	if ((m->footprint += mmsize) > m->max_footprint) m->max_footprint = m->footprint;
	return chunk2mem(p);
}

// New memory directly below an existing segment: carve nb from its start and
// merge the rest with that segment's first chunk.
static void* prepend_alloc(mstate m, char* newbase, char* oldbase, size_t nb)
{
	mchunkptr p = align_as_chunk(newbase);
	mchunkptr oldfirst = align_as_chunk(oldbase);
	size_t psize = (char*)oldfirst - (char*)p;
	mchunkptr q = chunk_at(p, nb);
	size_t qsize = psize - nb;
	set_size_and_pinuse_of_inuse_chunk(m, p, nb);
	if (oldfirst == m->top) {
		size_t tsize = m->topsize += qsize;
		m->top = q;
		store_head(q, tsize | PINUSE);
	} else if (oldfirst == m->dv) {
		size_t dsize = m->dvsize += qsize;
		m->dv = q;
		set_size_and_pinuse_of_free_chunk(q, dsize);
	} else {
		if (!cinuse(oldfirst)) {
			size_t nsize = chunksize(oldfirst);
			unlink_chunk(m, oldfirst, nsize);
			oldfirst = chunk_at(oldfirst, nsize);
			qsize += nsize;
		}
		set_free_with_pinuse(q, qsize, oldfirst);
		insert_chunk(m, q, qsize);
	}
	return chunk2mem(p);
}

// A new, separate segment becomes the top; the old top's end holds the new
// segment record and the old top goes into the bins.
static void add_segment(mstate m, char* tbase, size_t tsize, unsigned flags)
{
	char* old_top = (char*)m->top;
	malloc_segment* oldsp = segment_holding(m, old_top);
	char* old_end = oldsp->base + oldsp->size;
	size_t ssize = pad_request(sizeof(malloc_segment));
	char* rawsp = old_end - (ssize + 4 * kWord + kAlignMask);
	char* asp = rawsp + align_offset(chunk2mem(rawsp));
	char* csp = asp < old_top + kMinChunk ? old_top : asp;
	mchunkptr sp = (mchunkptr)csp;
	malloc_segment* ss = (malloc_segment*)chunk2mem(sp);
	mchunkptr p = chunk_at(sp, ssize);

	init_top(m, (mchunkptr)tbase, tsize - top_foot_size());

	set_size_and_pinuse_of_inuse_chunk(m, sp, ssize);
	*ss = m->seg;
	m->seg.base = tbase;
	m->seg.size = tsize;
	m->seg.flags = flags;
	m->seg.next = ss;

	// Fenceposts up to the old segment's end.
	for (;;) {
		mchunkptr nextp = chunk_at(p, kWord);
		store_head(p, kFencepost);
		if ((char*)&nextp->head < old_end)
			p = nextp;
		else
			break;
	}
	if (csp != old_top) {
		mchunkptr q = (mchunkptr)old_top;
		size_t psize = csp - old_top;
		set_free_with_pinuse(q, psize, chunk_at(q, psize));
		insert_chunk(m, q, psize);
	}
}

static void* sys_alloc(mstate m, size_t nb)
{
	if (use_mmap(m) && nb >= mparams.mmap_threshold) {
		void* mem = mmap_alloc(m, nb);
		if (mem) return mem;
	}
	size_t asize = granularity_align(nb + top_foot_size() + 1);
	// Asked for right after the top's segment, so that the top grows in place
	// and a later trim can give the end back.
	malloc_segment* topseg = segment_holding(m, m->top);
	char* tbase = asize > nb && use_mmap(m) ? (char*)os_map(asize, topseg->base + topseg->size) : nullptr;
	if (!tbase) {
		errno = ENOMEM;
		return nullptr;
	}
	if ((m->footprint += asize) > m->max_footprint) m->max_footprint = m->footprint;

	malloc_segment* sp = &m->seg;
	while (sp && tbase != sp->base + sp->size) sp = sp->next;
	if (sp && !is_extern_segment(sp) && is_mmapped_segment(sp) && segment_holds(sp, m->top)) {
		sp->size += asize;
		init_top(m, m->top, m->topsize + asize);
	} else {
		if (tbase < m->least_addr) __atomic_store_n(&m->least_addr, tbase, __ATOMIC_RELAXED);
		sp = &m->seg;
		while (sp && sp->base != tbase + asize) sp = sp->next;
		// Never in front of the space's own record: memory merged there could
		// never be given back.
		if (sp && !is_extern_segment(sp) && is_mmapped_segment(sp) && !segment_holds(sp, m)) {
			char* oldbase = sp->base;
			sp->base = tbase;
			sp->size += asize;
			return prepend_alloc(m, tbase, oldbase, nb);
		}
		add_segment(m, tbase, asize, SEG_MMAPPED);
	}

	if (nb < m->topsize) {
		size_t rsize = m->topsize -= nb;
		mchunkptr p = m->top;
		mchunkptr r = m->top = chunk_at(p, nb);
		store_head(r, rsize | PINUSE);
		set_size_and_pinuse_of_inuse_chunk(m, p, nb);
		return chunk2mem(p);
	}
	errno = ENOMEM;
	return nullptr;
}

static size_t release_unused_segments(mstate m)
{
	size_t released = 0;
	size_t nsegs = 0;
	malloc_segment* pred = &m->seg;
	malloc_segment* sp = pred->next;
	while (sp) {
		char* base = sp->base;
		size_t size = sp->size;
		malloc_segment* next = sp->next;
		++nsegs;
		if (is_mmapped_segment(sp) && !is_extern_segment(sp)) {
			mchunkptr p = align_as_chunk(base);
			size_t psize = chunksize(p);
			// Free and spanning everything up to the segment record.
			if (!cinuse(p) && (char*)p + psize >= base + size - top_foot_size()) {
				tchunkptr tp = (tchunkptr)p;
				if (p == m->dv) {
					m->dv = nullptr;
					m->dvsize = 0;
				} else {
					unlink_large_chunk(m, tp);
				}
				if (munmap(base, size) == 0) {
					released += size;
					m->footprint -= size;
					sp = pred;
					sp->next = next;
				} else {
					insert_large_chunk(m, tp, psize);
				}
			}
		}
		pred = sp;
		sp = next;
	}
	m->release_checks = nsegs > kMaxReleaseChecks ? nsegs : kMaxReleaseChecks;
	return released;
}


static int sys_trim(mstate m, size_t pad)
{
	size_t released = 0;
	if (pad < kMaxRequest && is_initialized(m)) {
		pad += top_foot_size();
		if (m->topsize > pad) {
			size_t unit = mparams.granularity;
			size_t extra = ((m->topsize - pad + (unit - 1)) / unit - 1) * unit;
			malloc_segment* sp = segment_holding(m, m->top);
			if (extra && !is_extern_segment(sp) && is_mmapped_segment(sp) && sp->size >= extra &&
				!has_segment_link(m, sp)) {
				size_t newsize = sp->size - extra;
				if (munmap(sp->base + newsize, extra) == 0) released = extra;
			}
			if (released) {
				sp->size -= released;
				m->footprint -= released;
				init_top(m, m->top, m->topsize - released);
			}
		}
		released += release_unused_segments(m);
		if (released == 0 && m->topsize > m->trim_check) m->trim_check = SIZE_MAX;
	}
	return released != 0;
}

// ---------------------------------------------------------------------------
// Allocation

// Smallest chunk of the tree bins, for a small request.
static void* tmalloc_small(mstate m, size_t nb)
{
	unsigned i = lowest_bit_index(m->treemap);
	tchunkptr v = m->treebins[i];
	tchunkptr t = v;
	size_t rsize = chunksize(t) - nb;
	while ((t = leftmost_child(t)) != nullptr) {
		size_t trem = chunksize(t) - nb;
		if (trem < rsize) {
			rsize = trem;
			v = t;
		}
	}
	if (!ok_address(m, v)) abort();
	mchunkptr r = chunk_at(v, nb);
	if (!ok_next(v, r)) abort();
	unlink_large_chunk(m, v);
	if (rsize < kMinChunk) {
		set_inuse_and_pinuse(m, (mchunkptr)v, rsize + nb);
	} else {
		set_size_and_pinuse_of_inuse_chunk(m, (mchunkptr)v, nb);
		set_size_and_pinuse_of_free_chunk(r, rsize);
		replace_dv(m, r, rsize);
	}
	return chunk2mem(v);
}

// Best fit from the tree bins for a large request; null when the designated
// victim fits as well.
static void* tmalloc_large(mstate m, size_t nb)
{
	tchunkptr v = nullptr;
	size_t rsize = -nb;  // wraps: larger than any remainder
	tchunkptr t;
	unsigned idx = tree_index(nb);
	if ((t = m->treebins[idx]) != nullptr) {
		size_t sizebits = nb << leftshift_for_tree_index(idx);
		tchunkptr rst = nullptr;  // deepest untaken right subtree
		for (;;) {
			size_t trem = chunksize(t) - nb;
			if (trem < rsize) {
				v = t;
				if ((rsize = trem) == 0) break;
			}
			tchunkptr rt = t->child[1];
			t = t->child[(sizebits >> (kSizeBits - 1)) & 1];
			if (rt != nullptr && rt != t) rst = rt;
			if (t == nullptr) {
				t = rst;
				break;
			}
			sizebits <<= 1;
		}
	}
	if (t == nullptr && v == nullptr) {
		binmap_t leftbits = left_bits(idx2bit(idx)) & m->treemap;
		if (leftbits) t = m->treebins[lowest_bit_index(leftbits)];
	}
	while (t != nullptr) {
		size_t trem = chunksize(t) - nb;
		if (trem < rsize) {
			rsize = trem;
			v = t;
		}
		t = leftmost_child(t);
	}
	if (v == nullptr || rsize >= m->dvsize - nb) return nullptr;
	if (!ok_address(m, v)) abort();
	mchunkptr r = chunk_at(v, nb);
	if (!ok_next(v, r)) abort();
	unlink_large_chunk(m, v);
	if (rsize < kMinChunk) {
		set_inuse_and_pinuse(m, (mchunkptr)v, rsize + nb);
	} else {
		set_size_and_pinuse_of_inuse_chunk(m, (mchunkptr)v, nb);
		set_size_and_pinuse_of_free_chunk(r, rsize);
		insert_chunk(m, r, rsize);
	}
	return chunk2mem(v);
}

static void* internal_malloc(mstate m, size_t bytes)
{
	space_guard guard(m);
	size_t nb;
	if (bytes <= kMaxSmallRequest) {
		nb = request2size(bytes);
		unsigned idx = small_index(nb);
		binmap_t smallbits = m->smallmap >> idx;
		if (smallbits & 3) {
			// Exact fit, or the next bin (a 16-byte remainder is no chunk).
			idx += ~smallbits & 1;
			mchunkptr b = smallbin_at(m, idx);
			mchunkptr p = b->fd;
			if (chunksize(p) != small_index2size(idx)) abort();
			unlink_first_small_chunk(m, b, p, idx);
			set_inuse_and_pinuse(m, p, small_index2size(idx));
			return chunk2mem(p);
		}
		if (nb > m->dvsize) {
			if (smallbits != 0) {
				binmap_t leftbits = (smallbits << idx) & left_bits(idx2bit(idx));
				unsigned i = lowest_bit_index(leftbits);
				mchunkptr b = smallbin_at(m, i);
				mchunkptr p = b->fd;
				if (chunksize(p) != small_index2size(i)) abort();
				unlink_first_small_chunk(m, b, p, i);
				size_t rsize = small_index2size(i) - nb;
				if (rsize < kMinChunk) {
					set_inuse_and_pinuse(m, p, small_index2size(i));
				} else {
					set_size_and_pinuse_of_inuse_chunk(m, p, nb);
					mchunkptr r = chunk_at(p, nb);
					set_size_and_pinuse_of_free_chunk(r, rsize);
					replace_dv(m, r, rsize);
				}
				return chunk2mem(p);
			}
			if (m->treemap != 0) return tmalloc_small(m, nb);
		}
	} else if (bytes >= kMaxRequest) {
		nb = SIZE_MAX;  // served by nothing below
	} else {
		nb = pad_request(bytes);
		if (m->treemap != 0) {
			void* mem = tmalloc_large(m, nb);
			if (mem) return mem;
		}
	}

	// A large request gets a mapping of its own before it is cut from the top,
	// so that freeing it gives the memory back at once.
	if (nb >= mparams.mmap_threshold && nb != SIZE_MAX && nb > m->dvsize && use_mmap(m)) {
		void* mem = mmap_alloc(m, nb);
		if (mem) return mem;
	}
	if (nb <= m->dvsize) {
		size_t rsize = m->dvsize - nb;
		mchunkptr p = m->dv;
		if (rsize >= kMinChunk) {
			mchunkptr r = m->dv = chunk_at(p, nb);
			m->dvsize = rsize;
			set_size_and_pinuse_of_free_chunk(r, rsize);
			set_size_and_pinuse_of_inuse_chunk(m, p, nb);
		} else {
			size_t dvs = m->dvsize;
			m->dvsize = 0;
			m->dv = nullptr;
			set_inuse_and_pinuse(m, p, dvs);
		}
		return chunk2mem(p);
	}
	if (nb < m->topsize) {
		size_t rsize = m->topsize -= nb;
		mchunkptr p = m->top;
		mchunkptr r = m->top = chunk_at(p, nb);
		store_head(r, rsize | PINUSE);
		set_size_and_pinuse_of_inuse_chunk(m, p, nb);
		return chunk2mem(p);
	}
	if (nb == SIZE_MAX) {
		errno = ENOMEM;
		return nullptr;
	}
	return sys_alloc(m, nb);
}

// ---------------------------------------------------------------------------
// Release

static void internal_free(size_t magic, void* mem)
{
	mchunkptr p = mem2chunk(mem);
	mstate fm = space_from_footer(p, magic);
	check_magic(fm, magic);
	space_guard guard(fm);
	if (!ok_address(fm, p) || !cinuse(p)) abort();
	size_t psize = chunksize(p);
	mchunkptr next = chunk_at(p, psize);
	if (!pinuse(p)) {
		size_t prevsize = p->prev_foot;
		if (prevsize & IS_MMAPPED) {
			prevsize &= ~IS_MMAPPED;
			psize += prevsize + kMmapFootPad;
			if (munmap((char*)p - prevsize, psize) == 0) fm->footprint -= psize;
			return;
		}
		mchunkptr prev = (mchunkptr)((char*)p - prevsize);
		psize += prevsize;
		p = prev;
		if (!ok_address(fm, prev)) abort();
		if (p != fm->dv) {
			unlink_chunk(fm, p, prevsize);
		} else if ((next->head & INUSE) == INUSE) {
			fm->dvsize = psize;
			set_free_with_pinuse(p, psize, next);
			return;
		}
	}
	if (!ok_next(p, next) || !pinuse(next)) abort();
	if (!cinuse(next)) {
		if (next == fm->top) {
			size_t tsize = fm->topsize += psize;
			fm->top = p;
			store_head(p, tsize | PINUSE);
			if (p == fm->dv) {
				fm->dv = nullptr;
				fm->dvsize = 0;
			}
			if (tsize > fm->trim_check) sys_trim(fm, 0);
			return;
		}
		if (next == fm->dv) {
			size_t dsize = fm->dvsize += psize;
			fm->dv = p;
			set_size_and_pinuse_of_free_chunk(p, dsize);
			return;
		}
		size_t nsize = chunksize(next);
		psize += nsize;
		unlink_chunk(fm, next, nsize);
		set_size_and_pinuse_of_free_chunk(p, psize);
		if (p == fm->dv) {
			fm->dvsize = psize;
			return;
		}
	} else {
		set_free_with_pinuse(p, psize, next);
	}
	if (is_small(psize)) {
		insert_small_chunk(fm, p, psize);
	} else {
		insert_large_chunk(fm, (tchunkptr)p, psize);
		if (--fm->release_checks == 0) release_unused_segments(fm);
	}
}

// ---------------------------------------------------------------------------
// Reallocation, alignment, carving

static void* internal_realloc(mstate m, size_t magic, void* oldmem, size_t bytes)
{
	if (bytes >= kMaxRequest) {
		errno = ENOMEM;
		return nullptr;
	}
	mchunkptr oldp = mem2chunk(oldmem);
	mstate fm = space_from_footer(oldp, magic);
	check_magic(fm, magic);
	(void)m;  // the block's own space does the work
	mchunkptr newp = nullptr;
	void* extra = nullptr;
	size_t oldsize;
	{
		space_guard guard(fm);
		oldsize = chunksize(oldp);
		mchunkptr next = chunk_at(oldp, oldsize);
		if (!ok_address(fm, oldp) || !cinuse(oldp) || !ok_next(oldp, next) || !pinuse(next)) abort();
		size_t nb = request2size(bytes);
		if (is_mmapped(oldp)) {
			// No remapping: a mapped chunk stays only when it shrinks a little.
			if (!is_small(nb) && oldsize >= nb + kWord && oldsize - nb <= (mparams.granularity << 1))
				newp = oldp;
		} else if (oldsize >= nb) {
			size_t rsize = oldsize - nb;
			newp = oldp;
			if (rsize >= kMinChunk) {
				mchunkptr rem = chunk_at(newp, nb);
				set_inuse(fm, newp, nb);
				store_head(rem, rsize | PINUSE | CINUSE);
				mark_inuse_foot(fm, rem, rsize);
				extra = chunk2mem(rem);
			}
		} else if (next == fm->top && oldsize + fm->topsize > nb) {
			size_t newtopsize = oldsize + fm->topsize - nb;
			mchunkptr newtop = chunk_at(oldp, nb);
			set_inuse(fm, oldp, nb);
			store_head(newtop, newtopsize | PINUSE);
			fm->top = newtop;
			fm->topsize = newtopsize;
			newp = oldp;
		}
	}
	if (newp) {
		if (extra) internal_free(magic, extra);
		return chunk2mem(newp);
	}
	void* newmem = internal_malloc(fm, bytes);
	if (newmem) {
		size_t oc = oldsize - kOverhead;
		memcpy(newmem, oldmem, oc < bytes ? oc : bytes);
		internal_free(magic, oldmem);
	}
	return newmem;
}

static void* internal_memalign(mstate m, size_t magic, size_t alignment, size_t bytes)
{
	if (alignment <= kAlign) return internal_malloc(m, bytes);
	if (alignment < kMinChunk) alignment = kMinChunk;
	if (alignment & (alignment - 1)) {
		if (alignment > (SIZE_MAX >> 1) + 1) {
			errno = ENOMEM;
			return nullptr;
		}
		size_t a = kAlign << 1;
		while (a < alignment) a <<= 1;
		alignment = a;
	}
	if (bytes >= kMaxRequest - alignment - kMinChunk) {
		errno = ENOMEM;
		return nullptr;
	}
	size_t nb = request2size(bytes);
	size_t req = nb + alignment + kMinChunk - kOverhead;
	char* mem = (char*)internal_malloc(m, req);
	if (!mem) return nullptr;
	void* leader = nullptr;
	void* trailer = nullptr;
	mchunkptr p = mem2chunk(mem);
	{
		space_guard guard(m);
		if ((size_t)mem % alignment != 0) {
			// A leading chunk of at least the minimum size goes back.
			char* br = (char*)mem2chunk((void*)(((size_t)mem + alignment - 1) & -alignment));
			char* pos = (size_t)(br - (char*)p) >= kMinChunk ? br : br + alignment;
			mchunkptr newp = (mchunkptr)pos;
			size_t leadsize = pos - (char*)p;
			size_t newsize = chunksize(p) - leadsize;
			if (is_mmapped(p)) {
				store_foot(newp, p->prev_foot + leadsize);
				store_head(newp, newsize | CINUSE);
			} else {
				store_head(newp, newsize | PINUSE | CINUSE);
				mark_inuse_foot(m, newp, newsize);
				set_inuse(m, p, leadsize);
				leader = chunk2mem(p);
			}
			p = newp;
		}
		if (!is_mmapped(p)) {
			size_t size = chunksize(p);
			if (size > nb + kMinChunk) {
				size_t remsize = size - nb;
				mchunkptr rem = chunk_at(p, nb);
				set_inuse(m, p, nb);
				store_head(rem, remsize | PINUSE | CINUSE);
				mark_inuse_foot(m, rem, remsize);
				trailer = chunk2mem(rem);
			}
		}
	}
	if (leader) internal_free(magic, leader);
	if (trailer) internal_free(magic, trailer);
	return chunk2mem(p);
}

// opts bit 0: every element the same size; bit 1: clear the memory.
static void** ialloc(mstate m, size_t n, size_t* sizes, int opts, void* chunks[])
{
	void** marray;
	size_t array_size;
	if (chunks) {
		if (n == 0) return chunks;
		marray = chunks;
		array_size = 0;
	} else {
		if (n == 0) return (void**)internal_malloc(m, 0);
		if (n >= kMaxRequest / sizeof(void*)) {
			errno = ENOMEM;
			return nullptr;
		}
		marray = nullptr;
		array_size = request2size(n * sizeof(void*));
	}
	size_t element_size = 0, contents_size = 0;
	if (opts & 1) {
		if (sizes[0] >= kMaxRequest) {
			errno = ENOMEM;
			return nullptr;
		}
		element_size = request2size(sizes[0]);
		if (element_size && n > kMaxRequest / element_size) {
			errno = ENOMEM;
			return nullptr;
		}
		contents_size = n * element_size;
	} else {
		for (size_t i = 0; i < n; ++i) {
			if (sizes[i] >= kMaxRequest || contents_size > kMaxRequest) {
				errno = ENOMEM;
				return nullptr;
			}
			contents_size += request2size(sizes[i]);
		}
	}
	if (contents_size + array_size >= kMaxRequest) {
		errno = ENOMEM;
		return nullptr;
	}
	size_t size = contents_size + array_size;

	unsigned saved = m->mflags;
	m->mflags &= ~USE_MMAP;
	void* mem = internal_malloc(m, size - kOverhead);
	m->mflags = saved;
	if (!mem) return nullptr;

	space_guard guard(m);
	mchunkptr p = mem2chunk(mem);
	size_t remainder_size = chunksize(p);
	if (opts & 2) memset(mem, 0, remainder_size - kOverhead - array_size);
	if (marray == nullptr) {
		mchunkptr array_chunk = chunk_at(p, contents_size);
		size_t array_chunk_size = remainder_size - contents_size;
		marray = (void**)chunk2mem(array_chunk);
		set_size_and_pinuse_of_inuse_chunk(m, array_chunk, array_chunk_size);
		remainder_size = contents_size;
	}
	for (size_t i = 0;; ++i) {
		marray[i] = chunk2mem(p);
		if (i != n - 1) {
			size_t sz = element_size ? element_size : request2size(sizes[i]);
			remainder_size -= sz;
			set_size_and_pinuse_of_inuse_chunk(m, p, sz);
			p = chunk_at(p, sz);
		} else {
			set_size_and_pinuse_of_inuse_chunk(m, p, remainder_size);
			break;
		}
	}
	return marray;
}

// ---------------------------------------------------------------------------
// Statistics

static struct mallinfo internal_mallinfo(mstate m)
{
	struct mallinfo nm = {};
	space_guard guard(m);
	if (!is_initialized(m)) return nm;
	size_t nfree = 1;  // top
	size_t mfree = m->topsize + top_foot_size();
	size_t sum = mfree;
	for (malloc_segment* s = &m->seg; s; s = s->next) {
		mchunkptr q = align_as_chunk(s->base);
		while (segment_holds(s, q) && q != m->top && q->head != kFencepost) {
			size_t sz = chunksize(q);
			sum += sz;
			if (!cinuse(q)) {
				mfree += sz;
				++nfree;
			}
			q = next_chunk(q);
		}
	}
	nm.arena = sum;
	nm.ordblks = nfree;
	nm.hblkhd = m->footprint - sum;
	nm.usmblks = m->max_footprint;
	nm.uordblks = m->footprint - mfree;
	nm.fordblks = mfree;
	nm.keepcost = m->topsize;
	return nm;
}

static void internal_malloc_stats(mstate m)
{
	size_t maxfp = 0, fp = 0, used = 0;
	{
		space_guard guard(m);
		if (is_initialized(m)) {
			maxfp = m->max_footprint;
			fp = m->footprint;
			used = fp - (m->topsize + top_foot_size());
			for (malloc_segment* s = &m->seg; s; s = s->next) {
				mchunkptr q = align_as_chunk(s->base);
				while (segment_holds(s, q) && q != m->top && q->head != kFencepost) {
					if (!cinuse(q)) used -= chunksize(q);
					q = next_chunk(q);
				}
			}
		}
	}
	fprintf(stderr, "max system bytes = %10lu\n", (unsigned long)maxfp);
	fprintf(stderr, "system bytes     = %10lu\n", (unsigned long)fp);
	fprintf(stderr, "in use bytes     = %10lu\n", (unsigned long)used);
}

// ---------------------------------------------------------------------------
// Spaces

static size_t state_chunk_size() { return pad_request(sizeof(malloc_state)); }

static mstate init_user_mstate(char* tbase, size_t tsize, size_t magic)
{
	size_t msize = state_chunk_size();
	mchunkptr msp = align_as_chunk(tbase);
	mstate m = (mstate)chunk2mem(msp);
	memset((void*)m, 0, msize - kOverhead);
	malloc_lock_init(&m->mutex);
	store_head(msp, msize | INUSE);
	m->seg.base = m->least_addr = tbase;
	m->seg.size = m->footprint = m->max_footprint = tsize;
	m->magic = magic;
	m->release_checks = kMaxReleaseChecks;
	m->mflags = mparams.default_mflags;
	init_bins(m);
	mark_inuse_foot(m, msp, msize);
	mchunkptr mn = next_chunk(msp);
	init_top(m, mn, (size_t)((tbase + tsize) - (char*)mn) - top_foot_size());
	return m;
}

static void set_lock_flag(mstate m, int locked)
{
	if (locked)
		m->mflags |= USE_LOCK;
	else
		m->mflags &= ~USE_LOCK;
}

mspace create_mspace(size_t capacity, int locked)
{
	ensure_mparams();
	size_t msize = state_chunk_size();
	if (capacity >= (size_t) - (msize + top_foot_size() + mparams.page_size)) return nullptr;
	size_t rs = capacity == 0 ? mparams.granularity : capacity + top_foot_size() + msize;
	size_t tsize = granularity_align(rs);
	char* tbase = (char*)os_map(tsize);
	if (!tbase) return nullptr;
	mstate m = init_user_mstate(tbase, tsize, mparams.magic);
	m->seg.flags = SEG_MMAPPED;
	set_lock_flag(m, locked);
	return m;
}

mspace create_mspace_with_base(void* base, size_t capacity, int locked)
{
	ensure_mparams();
	size_t msize = state_chunk_size();
	if (base == nullptr || capacity <= msize + top_foot_size() ||
		capacity >= (size_t) - (msize + top_foot_size() + mparams.page_size))
		return nullptr;
	mstate m = init_user_mstate((char*)base, capacity, mparams.magic);
	m->seg.flags = SEG_EXTERN;
	set_lock_flag(m, locked);
	return m;
}

size_t destroy_mspace(mspace msp)
{
	mstate ms = (mstate)msp;
	check_magic(ms, mparams.magic);
	size_t freed = 0;
	malloc_segment* sp = &ms->seg;
	while (sp) {
		char* base = sp->base;
		size_t size = sp->size;
		unsigned flags = sp->flags;
		sp = sp->next;  // read before the segment holding it goes
		if ((flags & SEG_MMAPPED) && !(flags & SEG_EXTERN) && munmap(base, size) == 0) freed += size;
	}
	return freed;
}

static mstate checked_space(mspace msp)
{
	ensure_mparams();
	mstate ms = (mstate)msp;
	check_magic(ms, mparams.magic);
	return ms;
}

void* mspace_malloc(mspace msp, size_t bytes) { return internal_malloc(checked_space(msp), bytes); }

void mspace_free(mspace, void* mem)
{
	if (mem) internal_free(mparams.magic, mem);
}

static void* calloc_in(mstate m, size_t n_elements, size_t elem_size)
{
	size_t req = 0;
	if (n_elements != 0 && __builtin_mul_overflow(n_elements, elem_size, &req)) {
		errno = ENOMEM;
		return nullptr;
	}
	void* mem = internal_malloc(m, req);
	if (mem && !is_mmapped(mem2chunk(mem))) memset(mem, 0, chunksize(mem2chunk(mem)) - kOverhead);
	return mem;
}

void* mspace_calloc(mspace msp, size_t n_elements, size_t elem_size)
{
	return calloc_in(checked_space(msp), n_elements, elem_size);
}

void* mspace_realloc(mspace msp, void* mem, size_t newsize)
{
	mstate ms = checked_space(msp);
	if (mem == nullptr) return internal_malloc(ms, newsize);
	return internal_realloc(ms, mparams.magic, mem, newsize);
}

void* mspace_memalign(mspace msp, size_t alignment, size_t bytes)
{
	return internal_memalign(checked_space(msp), mparams.magic, alignment, bytes);
}

void** mspace_independent_calloc(mspace msp, size_t n_elements, size_t elem_size, void* chunks[])
{
	size_t sz = elem_size;
	return ialloc(checked_space(msp), n_elements, &sz, 3, chunks);
}

void** mspace_independent_comalloc(mspace msp, size_t n_elements, size_t sizes[], void* chunks[])
{
	return ialloc(checked_space(msp), n_elements, sizes, 0, chunks);
}

int mspace_trim(mspace msp, size_t pad)
{
	mstate ms = checked_space(msp);
	space_guard guard(ms);
	return sys_trim(ms, pad);
}

size_t mspace_footprint(mspace msp) { return checked_space(msp)->footprint; }
size_t mspace_max_footprint(mspace msp) { return checked_space(msp)->max_footprint; }
struct mallinfo mspace_mallinfo(mspace msp) { return internal_mallinfo(checked_space(msp)); }
void mspace_malloc_stats(mspace msp) { internal_malloc_stats(checked_space(msp)); }
int mspace_mallopt(int param, int value) { return change_mparam(param, value); }

size_t mspace_usable_size(const void* mem)
{
	if (mem == nullptr) return 0;
	size_t head = load_head(mem2chunk(mem));
	return (head & CINUSE) ? (head & ~(size_t)7) - kOverhead : 0;
}

bool mspace_chunk_inuse(const void* mem)
{
	size_t head = load_head(mem2chunk(mem));
	return (head & CINUSE) && (head & ~(size_t)7) > kOverhead;
}

mspace mspace_of_block(const void* mem)
{
	ensure_mparams();
	mchunkptr p = mem2chunk(mem);
	size_t head = load_head(p);
	if (((size_t)mem & kAlignMask) != 0 || !(head & CINUSE)) return nullptr;
	mchunkptr n = chunk_at(p, head & ~(size_t)7);
	if (!(load_head(n) & PINUSE)) return nullptr;
	if (!(head & PINUSE)) {
		size_t prev_foot = __atomic_load_n(&p->prev_foot, __ATOMIC_RELAXED);
		if (!(prev_foot & IS_MMAPPED) && (load_head((char*)p - prev_foot) & ~(size_t)7) != prev_foot) return nullptr;
	}
	mstate m = (mstate)(n->prev_foot ^ mparams.magic);
	if (((size_t)m & kAlignMask) != 0 || m->magic != mparams.magic ||
		(char*)p < __atomic_load_n(&m->least_addr, __ATOMIC_RELAXED))
		return nullptr;
	return m;
}

void mspace_set_owner(mspace msp, void* pool) { checked_space(msp)->extp = pool; }
void* mspace_owner(mspace msp) { return checked_space(msp)->extp; }
malloc_lock* mspace_lock(mspace msp) { return &checked_space(msp)->mutex; }

// ---------------------------------------------------------------------------
// The global build: one heap, no lock, stamped "XXXX". It maps its memory like
// a space: the data-segment break belongs to the C library's allocator, which
// stays in the process.

static mstate gm;

static mstate global_heap()
{
	ensure_mparams();
	if (gm == nullptr) {
		size_t tsize = granularity_align(state_chunk_size() + top_foot_size());
		char* tbase = (char*)os_map(tsize);
		if (!tbase) abort();
		gm = init_user_mstate(tbase, tsize, kGlobalMagic);
		gm->seg.flags = SEG_MMAPPED;
		gm->mflags = USE_MMAP;
	}
	return gm;
}

void* dlmalloc(size_t bytes) { return internal_malloc(global_heap(), bytes); }
void dlfree(void* mem)
{
	if (mem) internal_free(kGlobalMagic, mem);
}
void* dlcalloc(size_t n_elements, size_t elem_size) { return calloc_in(global_heap(), n_elements, elem_size); }
void* dlrealloc(void* mem, size_t bytes)
{
	if (mem == nullptr) return dlmalloc(bytes);
	return internal_realloc(global_heap(), kGlobalMagic, mem, bytes);
}
void* dlmemalign(size_t alignment, size_t bytes)
{
	return internal_memalign(global_heap(), kGlobalMagic, alignment, bytes);
}
void* dlvalloc(size_t bytes) { return dlmemalign(sysconf(_SC_PAGESIZE), bytes); }
void* dlpvalloc(size_t bytes)
{
	size_t ps = sysconf(_SC_PAGESIZE);
	if (bytes > SIZE_MAX - ps) {
		errno = ENOMEM;
		return nullptr;
	}
	return dlmemalign(ps, (bytes + ps - 1) & ~(ps - 1));
}
void** dlindependent_calloc(size_t n_elements, size_t elem_size, void* chunks[])
{
	size_t sz = elem_size;
	return ialloc(global_heap(), n_elements, &sz, 3, chunks);
}
void** dlindependent_comalloc(size_t n_elements, size_t sizes[], void* chunks[])
{
	return ialloc(global_heap(), n_elements, sizes, 0, chunks);
}
int dlmalloc_trim(size_t pad) { return sys_trim(global_heap(), pad); }
size_t dlmalloc_footprint() { return global_heap()->footprint; }
size_t dlmalloc_max_footprint() { return global_heap()->max_footprint; }
struct mallinfo dlmallinfo() { return internal_mallinfo(global_heap()); }
void dlmalloc_stats() { internal_malloc_stats(global_heap()); }
size_t dlmalloc_usable_size(void* mem) { return mspace_usable_size(mem); }
int dlmallopt(int param, int value) { return change_mparam(param, value); }

// ---------------------------------------------------------------------------
// Heap checker

#define CHECK_THAT(cond, what) \
	do {                       \
		if (!(cond)) return what; \
	} while (0)

static const char* check_tree(mstate m, tchunkptr t, unsigned idx, size_t* nodes)
{
	for (; t != nullptr;) {
		tchunkptr u = t;
		size_t tsize = chunksize(t);
		// Walk the twin ring of this node.
		do {
			++*nodes;
			CHECK_THAT(u->index == idx, "tree chunk with a wrong index");
			CHECK_THAT(chunksize(u) == tsize, "twins of unequal size");
			CHECK_THAT(!cinuse(u), "tree chunk marked in use");
			CHECK_THAT(u->fd->bk == u && u->bk->fd == u, "broken twin ring");
			CHECK_THAT(tree_index(chunksize(u)) == idx, "tree chunk in the wrong bin");
			if (u != t) CHECK_THAT(u->parent == nullptr && !u->child[0] && !u->child[1], "twin linked into the tree");
			u = u->fd;
		} while (u != t);
		for (int j = 0; j < 2; ++j) {
			tchunkptr c = t->child[j];
			if (c) {
				CHECK_THAT(c->parent == t, "child with a wrong parent");
				CHECK_THAT(chunksize(c) != tsize, "equal sizes in the tree");
			}
		}
		if (t->child[0] && t->child[1]) CHECK_THAT(chunksize(t->child[0]) < chunksize(t->child[1]), "tree out of order");
		if (t->child[0]) {
			const char* e = check_tree(m, t->child[0], idx, nodes);
			if (e) return e;
		}
		t = t->child[1];
	}
	return nullptr;
}

static const char* check_space(mstate m)
{
	if (!is_initialized(m)) return nullptr;
	size_t binned = 0;
	for (unsigned i = 0; i < (unsigned)kSmallBins; ++i) {
		mchunkptr b = smallbin_at(m, i);
		bool empty = b->fd == b;
		CHECK_THAT(empty == !(m->smallmap & idx2bit(i)), "small-bin bitmap out of step");
		for (mchunkptr p = b->fd; p != b; p = p->fd) {
			++binned;
			CHECK_THAT(chunksize(p) == small_index2size(i), "small chunk in the wrong bin");
			CHECK_THAT(!cinuse(p) && pinuse(p), "binned small chunk not free");
			CHECK_THAT(p->fd->bk == p && p->bk->fd == p, "broken small-bin list");
			CHECK_THAT(next_chunk(p)->prev_foot == chunksize(p), "free chunk footer");
		}
	}
	for (unsigned i = 0; i < (unsigned)kTreeBins; ++i) {
		tchunkptr t = m->treebins[i];
		CHECK_THAT((t == nullptr) == !(m->treemap & idx2bit(i)), "tree-bin bitmap out of step");
		if (t) CHECK_THAT(t->parent == nullptr, "tree root with a parent");
		size_t nodes = 0;
		const char* e = check_tree(m, t, i, &nodes);
		if (e) return e;
		binned += nodes;
	}
	size_t free_seen = 0, footprint = 0;
	bool top_seen = false, dv_seen = m->dv == nullptr;
	for (malloc_segment* s = &m->seg; s; s = s->next) {
		footprint += s->size;
		CHECK_THAT(s->base >= m->least_addr, "segment below the lowest address");
		mchunkptr q = align_as_chunk(s->base);
		bool prev_inuse = true;
		for (;;) {
			CHECK_THAT(segment_holds(s, q), "chunk runs out of its segment");
			if (q == m->top) {
				CHECK_THAT(prev_inuse && pinuse(q), "top after a free chunk");
				CHECK_THAT((char*)q + m->topsize + top_foot_size() == s->base + s->size, "top does not end its segment");
				CHECK_THAT(chunksize(q) == m->topsize, "top size");
				top_seen = true;
				break;
			}
			if (q->head == kFencepost) break;
			size_t sz = chunksize(q);
			CHECK_THAT(((size_t)chunk2mem(q) & kAlignMask) == 0, "misaligned chunk");
			CHECK_THAT(sz >= kMinChunk && (sz & kAlignMask) == 0, "bad chunk size");
			CHECK_THAT(pinuse(q) == prev_inuse, "previous-in-use bit out of step");
			mchunkptr n = next_chunk(q);
			if (cinuse(q)) {
				CHECK_THAT(n->prev_foot == ((size_t)m ^ m->magic), "footer does not name the space");
			} else {
				CHECK_THAT(prev_inuse, "two free chunks side by side");
				CHECK_THAT(n->prev_foot == sz, "free chunk footer");
				if (q == m->dv) {
					CHECK_THAT(sz == m->dvsize, "designated victim size");
					dv_seen = true;
				} else {
					++free_seen;
				}
			}
			prev_inuse = cinuse(q);
			q = n;
		}
	}
	CHECK_THAT(top_seen, "top chunk not in any segment");
	CHECK_THAT(dv_seen, "designated victim not in any segment");
	CHECK_THAT(free_seen == binned, "free chunks and bins disagree");
	CHECK_THAT(footprint <= m->footprint && m->footprint <= m->max_footprint, "footprint");
	return nullptr;
}

const char* mspace_check(mspace msp)
{
	mstate m = checked_space(msp);
	space_guard guard(m);
	return check_space(m);
}
