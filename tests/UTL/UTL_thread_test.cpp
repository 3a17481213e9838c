#include <gtest/gtest.h>
#include <sys/time.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "UTL/UTL_thread.h"
#include "zuz_net.h"
#include "zuz_test.h"

using clk = std::chrono::steady_clock;

static double seconds_since(clk::time_point t0)
{
	return std::chrono::duration<double>(clk::now() - t0).count();
}

static void* item(long v) { return reinterpret_cast<void*>(v); }

TEST(MessageQueue, PollsWaitsAndKeepsOrder)
{
	UTL_message_queue* q;
	UTL_message_queue_create(&q);

	EXPECT_EQ(UTL_message_queue_read(q, 0), nullptr);
	EXPECT_EQ(q->waiters, 0);

	for (long i = 1; i <= 3; ++i) UTL_message_queue_write(q, item(i));
	EXPECT_EQ(UTL_message_queue_read(q, 0), item(1));
	EXPECT_EQ(UTL_message_queue_read(q, 100), item(2));
	EXPECT_EQ(UTL_message_queue_read(q, -1), item(3));

	// A timed read on an empty queue waits for an item written while it waits,
	// and returns null once its time is out.
	std::thread writer([q] {
		if (zuz_test::within(60, [q] { return zuz_test::queue_readers(q) > 0; })) UTL_message_queue_write(q, item(7));
	});
	EXPECT_EQ(UTL_message_queue_read(q, 600000), item(7));
	writer.join();
	EXPECT_EQ(UTL_message_queue_read(q, 1), nullptr);
	EXPECT_EQ(q->waiters, 0);

	// Time-outs below -1 mean "do not wait": a reader that waited would take
	// what a watcher writes whenever it sees one waiting.
	std::atomic<bool> stop{false};
	std::thread watcher([q, &stop] {
		while (!stop)
			if (zuz_test::queue_readers(q) > 0) UTL_message_queue_write(q, item(8));
	});
	EXPECT_EQ(UTL_message_queue_read(q, -5000), nullptr);
	EXPECT_EQ(UTL_message_queue_read(q, -2147483647 - 1), nullptr);
	stop = true;
	watcher.join();

	// Items left in a queue are not freed with it: their owner still reads and
	// frees them (a use after free, or a double free, under the sanitizers).
	long* kept = new long(42);
	UTL_message_queue_write(q, kept);
	UTL_message_queue_destroy(q);
	EXPECT_EQ(*kept, 42);
	delete kept;
}

// Several producers and consumers: every item arrives exactly once, each
// producer's items come out in the order written, and reads without a
// time-limit return when items arrive.
TEST(MessageQueueStress, ManyProducersAndConsumersLoseNothing)
{
	const int producers = 4, consumers = 4, per_producer = 20000;
	UTL_message_queue* q;
	UTL_message_queue_create(&q);

	std::vector<std::thread> threads;
	for (int p = 0; p < producers; ++p)
		threads.emplace_back([q, p] {
			for (long i = 1; i <= per_producer; ++i) UTL_message_queue_write(q, item(p * 1000000L + i));
		});

	std::vector<std::vector<long>> got(consumers);
	for (int c = 0; c < consumers; ++c)
		threads.emplace_back([q, c, &got] {
			for (;;) {
				long v = reinterpret_cast<long>(UTL_message_queue_read(q, c % 2 ? -1 : 50));
				if (v == -1) return;
				if (v) got[c].push_back(v);
			}
		});

	for (int p = 0; p < producers; ++p) threads[p].join();
	for (int c = 0; c < consumers; ++c) UTL_message_queue_write(q, item(-1));
	for (size_t t = producers; t < threads.size(); ++t) threads[t].join();
	UTL_message_queue_destroy(q);

	std::vector<int> seen(producers * per_producer, 0);
	for (auto& list : got) {
		std::vector<long> last(producers, 0);
		for (long v : list) {
			int p = (int)(v / 1000000), i = (int)(v % 1000000);
			ASSERT_GT(i, last[p]) << "producer " << p << " out of order";
			last[p] = i;
			seen[p * per_producer + i - 1]++;
		}
	}
	for (size_t k = 0; k < seen.size(); ++k) ASSERT_EQ(seen[k], 1) << "item " << k;
}

TEST(CriticalSectionStress, IsRecursiveAndExcludesOtherThreads)
{
	pthread_mutex_t m;
	UTL_critical_section_create(&m);
	UTL_critical_section_lock(&m);
	UTL_critical_section_lock(&m);
	UTL_critical_section_unlock(&m);
	UTL_critical_section_unlock(&m);
	EXPECT_EQ(pthread_mutex_trylock(&m), 0);  // free again
	pthread_mutex_unlock(&m);

	long counter = 0;
	std::vector<std::thread> threads;
	for (int t = 0; t < 8; ++t)
		threads.emplace_back([&] {
			for (int i = 0; i < 20000; ++i) {
				UTL_critical_section_lock(&m);
				UTL_critical_section_lock(&m);
				++counter;
				UTL_critical_section_unlock(&m);
				UTL_critical_section_unlock(&m);
			}
		});
	for (auto& t : threads) t.join();
	EXPECT_EQ(counter, 8 * 20000);
	UTL_critical_section_destroy(&m);
}

TEST(Sleep, NonPositiveReturnsAtOnce)
{
	auto t0 = clk::now();
	UTL_sleep(0);
	UTL_sleep(-1);
	UTL_sleep(-2147483647);
	EXPECT_LT(seconds_since(t0), 5.0);  // a negative taken as unsigned would sleep for weeks
	t0 = clk::now();
	UTL_sleep(30);
	EXPECT_GE(seconds_since(t0), 0.029);
	EXPECT_GE(UTL_count_processors(), 1);
}

TEST(ThreadCallDeathTest, UnlockingALockOwnedByAnotherThreadIsFatal)
{
	EXPECT_EXIT(
		{
			pthread_mutex_t m;
			UTL_critical_section_create(&m);
			std::thread([&] { UTL_critical_section_lock(&m); }).join();
			UTL_critical_section_unlock(&m);
		},
		testing::ExitedWithCode(1),
		"FATAL ERROR \\(ZUzuvir/UTL/UTL_thread, line 224\\)\n\"pthread_mutex_unlock\" OS error\nerr=1.000000\n");
}

TEST(ThreadCallDeathTest, DestroyingALockedLockIsFatal)
{
	EXPECT_EXIT(
		{
			pthread_mutex_t m;
			UTL_critical_section_create(&m);
			UTL_critical_section_lock(&m);
			UTL_critical_section_destroy(&m);
		},
		testing::ExitedWithCode(1), "line 198\\)\n\"::pthread_mutex_destroy\" OS error\nerr=16.000000\n");
}
