// Resizing, aligned allocation and carving one allocation into several.
#include <errno.h>

#include <cstring>

#include "UTL/dlmalloc_chunks.h"

void* internal_realloc(mstate m, size_t magic, void* oldmem, size_t bytes)
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

void* internal_memalign(mstate m, size_t magic, size_t alignment, size_t bytes)
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
void** ialloc(mstate m, size_t n, size_t* sizes, int opts, void* chunks[])
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
