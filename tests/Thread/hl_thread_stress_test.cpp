#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "GenC/hl_globals.h"
#include "OGL/OGL_extensions.h"
#include "Thread/hl_thread.h"
#include "zuz_net.h"
#include "zuz_test.h"

namespace {
void* twice_plus_one(void* arg) { return reinterpret_cast<void*>(reinterpret_cast<intptr_t>(arg) * 2 + 1); }
void* wait_for_gate(void* q) { return UTL_message_queue_read(static_cast<UTL_message_queue*>(q), -1); }
}  // namespace

// The layer with its workers, started on the test's thread.
class ThreadPoolStress : public testing::Test {
protected:
	void SetUp() override
	{
		glExt.threaded_avail = 0;
		THREAD_init();
		THREAD_make_workers();
	}
	void TearDown() override { THREAD_shutdown(); }
	zuz_test::LogCapture log;
};

// Several threads share the pool: every call's own result comes back, records
// are recycled between callers, and shut-down stops every worker.
TEST_F(ThreadPoolStress, ManyCallersRunWaitAndRecycle)
{
	const int callers = 6, rounds = 3000, batch = 5;
	std::vector<std::thread> threads;
	std::vector<int> wrong(callers, 0);
	for (int c = 0; c < callers; ++c)
		threads.emplace_back([c, &wrong] {
			for (int r = 0; r < rounds; ++r) {
				THREAD_call* calls[batch];
				for (int b = 0; b < batch; ++b)
					calls[b] = THREAD_run_async(twice_plus_one, reinterpret_cast<void*>(intptr_t(c * 1000000 + r * batch + b)));
				for (int b = 0; b < batch; ++b) {
					// Alternate between polling and waiting, and ask twice.
					if ((r + b) % 2)
						while (!THREAD_is_done(calls[b], 0)) std::this_thread::yield();
					else
						THREAD_is_done(calls[b], -1);
					if (THREAD_is_done(calls[b], -1) != 1) ++wrong[c];
					intptr_t want = intptr_t(c * 1000000 + r * batch + b) * 2 + 1;
					if (reinterpret_cast<intptr_t>(THREAD_cleanup(calls[b])) != want) ++wrong[c];
				}
			}
		});
	for (std::thread& t : threads) t.join();
	for (int c = 0; c < callers; ++c) EXPECT_EQ(wrong[c], 0) << "caller " << c;

	// No more records than were ever in flight at once.
	int records = 0;
	for (THREAD_call* p = free_calls; p; p = p->next) ++records;
	EXPECT_LE(records, callers * batch);

	THREAD_shutdown();
	EXPECT_TRUE(worker_threads.empty());
	EXPECT_NE(log.text().find("Clean exit from threads.\n"), std::string::npos);
}

// Threads already waiting without a time-limit on one call all return once it
// completes, whichever of them takes its completion first.
TEST_F(ThreadPoolStress, EveryWaiterOnOneCallReturns)
{
	UTL_message_queue* gate;
	UTL_message_queue_create(&gate);
	for (int round = 0; round < 50; ++round) {
		THREAD_call* call = THREAD_run_async(wait_for_gate, gate);
		const int waiters = 3;
		std::vector<int> answers(waiters, -1);
		std::vector<std::thread> threads;
		for (int w = 0; w < waiters; ++w) threads.emplace_back([&, w] { answers[w] = THREAD_is_done(call, -1); });
		// The call completes only once every waiter is blocked on it.
		EXPECT_TRUE(zuz_test::within(60, [&] { return zuz_test::queue_readers(call->done_q) == waiters; }))
			<< "round " << round;
		UTL_message_queue_write(gate, &log);
		for (std::thread& t : threads) t.join();
		for (int w = 0; w < waiters; ++w) EXPECT_EQ(answers[w], 1) << "round " << round << ", waiter " << w;
		EXPECT_EQ(THREAD_cleanup(call), &log);
	}
	// A recycled record starts over: its new call is not done before it ran.
	THREAD_call* next = THREAD_run_async(wait_for_gate, gate);
	EXPECT_EQ(THREAD_is_done(next, 0), 0);
	UTL_message_queue_write(gate, nullptr);
	EXPECT_EQ(THREAD_is_done(next, -1), 1);
	THREAD_cleanup(next);

	UTL_message_queue_destroy(gate);
}
