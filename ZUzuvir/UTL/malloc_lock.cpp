#include <sched.h>

#include <cstdlib>

#include "UTL/dlmalloc.h"

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
