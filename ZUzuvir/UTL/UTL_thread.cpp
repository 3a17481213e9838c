#include "UTL/UTL_thread.h"

#include <errno.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "GenC/MACIBM_alert.h"
#include "GenC/hl_globals.h"
#include "Platform/plat_system.h"

static const char* const kFile = "ZUzuvir/UTL/UTL_thread";

// A thread call failed: fatal, with the call's name and its error number.
static void os_error(const char* call, int err, int line)
{
	char buf[64];
	snprintf(buf, sizeof(buf), "err=%f", (double)err);
	stl_global = buf;
	__MACIBM_alert(0, std::string("\"") + call + "\" OS error", stl_global, "", "", t_exit, kFile, line);
}

#define CHECK(call, name, line)                   \
	do {                                          \
		int err_ = (call);                        \
		if (err_ != 0) os_error(name, err_, line); \
	} while (0)

void UTL_thread_create(UTL_thread_fn fn, void* arg, UTL_thread_t* out1, UTL_thread_t* out2, UTL_thread_t* out3)
{
	CHECK(pthread_create(out1, nullptr, fn, arg), "pthread_create", 112);
	*out2 = *out1;
	*out3 = *out1;
}

void* UTL_thread_join(UTL_thread_t* thread, UTL_thread_t*)
{
	void* result = nullptr;
	int err = pthread_join(*thread, &result);
	if (err != 0) xer << "Warning: wait on thread cleanup failed with error " << err << "\n";
	return result;
}

void UTL_thread_exit(void* result)
{
	pthread_exit(result);
}

void UTL_thread_murder(UTL_thread_t* thread)
{
	pthread_cancel(*thread);
}

UTL_thread_t UTL_get_current_thread()
{
	return pthread_self();
}

int UTL_count_processors()
{
	return MPProcessors();
}

void UTL_sleep(int ms)
{
	if (ms < 1) return;
	// 64-bit product: ms * 1000 microseconds overflows an int above about 35 minutes.
	long long us = (long long)ms * 1000;
	timespec left = {(time_t)(us / 1000000), (long)(us % 1000000) * 1000};
	while (nanosleep(&left, &left) != 0 && errno == EINTR) {
	}
}

void UTL_critical_section_create(pthread_mutex_t* m)
{
	pthread_mutexattr_t attr;
	CHECK(pthread_mutexattr_init(&attr), "::pthread_mutexattr_init", 179);
	CHECK(pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE), "::pthread_mutexattr_settype", 181);
	CHECK(pthread_mutex_init(m, &attr), "::pthread_mutex_init", 183);
	CHECK(pthread_mutexattr_destroy(&attr), "::pthread_mutexattr_destroy", 185);
}

void UTL_critical_section_destroy(pthread_mutex_t* m)
{
	CHECK(pthread_mutex_destroy(m), "::pthread_mutex_destroy", 198);
}

void UTL_critical_section_lock(pthread_mutex_t* m)
{
	CHECK(pthread_mutex_lock(m), "pthread_mutex_lock", 211);
}

void UTL_critical_section_unlock(pthread_mutex_t* m)
{
	CHECK(pthread_mutex_unlock(m), "pthread_mutex_unlock", 224);
}

void UTL_message_queue_create(UTL_message_queue** out)
{
	UTL_message_queue* q = new UTL_message_queue;
	q->waiters = 0;
	*out = q;
	CHECK(pthread_mutex_init(&q->mutex, nullptr), "::pthread_mutex_init", 268);
	CHECK(pthread_cond_init(&q->cond, nullptr), "::pthread_cond_init", 271);
}

void UTL_message_queue_destroy(UTL_message_queue* q)
{
	CHECK(pthread_mutex_destroy(&q->mutex), "::pthread_mutex_destroy", 287);
	CHECK(pthread_cond_destroy(&q->cond), "::pthread_cond_desroy", 290);
	delete q;  // frees the cells, not what the items point to
}

void UTL_message_queue_write(UTL_message_queue* q, void* item)
{
	CHECK(pthread_mutex_lock(&q->mutex), "pthread_mutex_lock", 319);
	if (q->waiters > 0) CHECK(pthread_cond_signal(&q->cond), "pthread_cond_signal", 324);
	q->items.push_back(item);
	CHECK(pthread_mutex_unlock(&q->mutex), "pthread_mutex_unlock", 330);
}

void* UTL_message_queue_read(UTL_message_queue* q, int timeout_ms)
{
	// Any time-out below -1 would make a deadline in the past (or an invalid
	// one): it means "do not wait", like 0.
	if (timeout_ms < -1) timeout_ms = 0;

	timespec deadline{};
	if (timeout_ms > 0) {
		timeval now;
		gettimeofday(&now, nullptr);
		deadline.tv_sec = now.tv_sec + timeout_ms / 1000;
		long long ns = (long long)(timeout_ms % 1000) * 1000000 + (long long)now.tv_usec * 1000;
		if (ns > 999999999) {
			ns -= 1000000000;
			deadline.tv_sec += 1;
		}
		deadline.tv_nsec = (long)ns;
	}

	CHECK(pthread_mutex_lock(&q->mutex), "pthread_mutex_lock", 381);
	if (timeout_ms == 0 && q->items.empty()) {
		CHECK(pthread_mutex_unlock(&q->mutex), "pthread_mutex_unlock", 386);
		return nullptr;
	}

	++q->waiters;
	for (;;) {
		if (!q->items.empty()) {
			--q->waiters;
			void* item = q->items.front();
			q->items.pop_front();
			CHECK(pthread_mutex_unlock(&q->mutex), "pthread_mutex_unlock", 412);
			return item;
		}
		int err = timeout_ms == -1 ? pthread_cond_wait(&q->cond, &q->mutex)
		                           : pthread_cond_timedwait(&q->cond, &q->mutex, &deadline);
		if (err == ETIMEDOUT) break;
		if (err != 0) os_error("pthread_cond_timedwait", err, 404);
	}
	--q->waiters;
	CHECK(pthread_mutex_unlock(&q->mutex), "pthread_mutex_unlock", 401);
	return nullptr;
}
