// The inner layout of the spaces, shared by the files of the base allocator.
#ifndef DLMALLOC_CHUNKS_H
#define DLMALLOC_CHUNKS_H

#include <climits>
#include <cstdint>
#include <cstdlib>

#include "UTL/dlmalloc.h"

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

extern malloc_params mparams;
extern std::atomic<bool> mparams_ready;
void init_mparams();

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

// Kept free at the end of the top: room for a new segment record.
static inline size_t top_foot_size()
{
	return align_offset(chunk2mem(nullptr)) + pad_request(sizeof(malloc_segment)) + kMinChunk;
}

static inline void ensure_mparams()
{
	if (!mparams_ready.load(std::memory_order_acquire)) init_mparams();
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

mstate checked_space(mspace msp);
void* internal_malloc(mstate m, size_t bytes);
void internal_free(size_t magic, void* mem);
void* internal_realloc(mstate m, size_t magic, void* oldmem, size_t bytes);
void* internal_memalign(mstate m, size_t magic, size_t alignment, size_t bytes);
void** ialloc(mstate m, size_t n, size_t* sizes, int opts, void* chunks[]);  // opts: 1 same size, 2 clear
struct mallinfo internal_mallinfo(mstate m);
void internal_malloc_stats(mstate m);

#endif
