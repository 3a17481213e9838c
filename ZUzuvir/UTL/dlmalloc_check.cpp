// Statistics and the heap checker: walks over every segment of a space.
#include <cstdio>

#include "UTL/dlmalloc_chunks.h"

struct mallinfo internal_mallinfo(mstate m)
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

void internal_malloc_stats(mstate m)
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
