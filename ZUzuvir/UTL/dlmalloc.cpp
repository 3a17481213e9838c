// The spaces: bins, segments, allocation and release, the space functions, and
// the global build.
#include <errno.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "UTL/dlmalloc_chunks.h"

malloc_params mparams;
std::atomic<bool> mparams_ready;
static malloc_lock magic_init_mutex;

// `hint`: where the kernel should place the mapping if that range is free.
static void* os_map(size_t size, void* hint = nullptr)
{
	void* p = mmap(hint, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
	return p == MAP_FAILED ? nullptr : p;
}

// ---------------------------------------------------------------------------
// Program-wide parameters

void init_mparams()
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

// What neither the bins nor the top can serve. A large request gets a mapping
// of its own, which freeing gives back at once.
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
	char* tbase = asize > nb ? (char*)os_map(asize, topseg->base + topseg->size) : nullptr;
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

void* internal_malloc(mstate m, size_t bytes)
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

void internal_free(size_t magic, void* mem)
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

mstate checked_space(mspace msp)
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
	mstate m = (mstate)(n->prev_foot ^ mparams.magic);
	if (((size_t)m & kAlignMask) != 0 || m->magic != mparams.magic ||
		(char*)p < __atomic_load_n(&m->least_addr, __ATOMIC_RELAXED))
		return nullptr;
	// The previous chunk is another thread's to allocate, and once in use its
	// data overwrites this chunk's prev_foot: read the two only under the lock.
	space_guard guard(m);
	if (!(load_head(p) & PINUSE)) {
		size_t prev_foot = __atomic_load_n(&p->prev_foot, __ATOMIC_RELAXED);
		if (!(prev_foot & IS_MMAPPED) && (load_head((char*)p - prev_foot) & ~(size_t)7) != prev_foot) return nullptr;
	}
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
