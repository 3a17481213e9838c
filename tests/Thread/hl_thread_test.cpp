#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <stdexcept>
#include <string>

#include "GenC/MACIBM_alert.h"
#include "GenC/hl_globals.h"
#include "OGL/OGL_extensions.h"
#include "Thread/hl_exception.h"
#include "Thread/hl_thread.h"
#include "zuz_test.h"

namespace {

// The layer started on the test's thread, with no worker contexts to ask for.
class ThreadLayer : public testing::Test {
protected:
	void SetUp() override
	{
		glExt.threaded_avail = 0;
		THREAD_init();
	}
	void TearDown() override { THREAD_shutdown(); }
	zuz_test::LogCapture log;
};

// Runs fn on a thread of the layer and waits for it to end.
void run_thread(THREAD_fn fn, void* arg = nullptr, int want_gl = 0)
{
	UTL_thread_t t, j, id;
	THREAD_create(fn, arg, &t, &j, &id, want_gl);
	EXPECT_TRUE(pthread_equal(t, j) && pthread_equal(t, id));
	UTL_thread_join(&j, &id);
}

exce_class* take(UTL_message_queue* q)
{
	return static_cast<exce_class*>(UTL_message_queue_read(q, 0));
}

void* fatal_alert(void*)
{
	__MACIBM_alert(0, "Fatal from a worker", "second", "", "", t_exit, "ZUzuvir/Files/io_utils", 12);
	ADD_FAILURE() << "the fatal alert returned: it ends this thread";
	return nullptr;
}

void* warning_alert(void* reached)
{
	__MACIBM_alert(0, "Just a warning", "", "", "", t_alert, "w_file", 5);
	__MACIBM_alert(0, "Language chooser", "", "", "", t_lang, "l_file", 6);
	*static_cast<int*>(reached) = 1;
	return nullptr;
}

}  // namespace

TEST_F(ThreadLayer, OffMainWarningsBecomeRecordsAndReturn)
{
	int reached = 0;
	run_thread(warning_alert, &reached);
	EXPECT_EQ(reached, 1);
	exce_class* w = take(warn_exce);
	ASSERT_NE(w, nullptr);
	EXPECT_EQ(w->msg1, "Just a warning");
	EXPECT_EQ(w->severity, 1);
	delete w;
	EXPECT_EQ(take(warn_exce), nullptr);  // the language chooser's type is dropped
}

namespace {
void* throw_std(void*) { throw std::runtime_error("disk on fire"); }
void* throw_int(void*) { throw 5; }
void* throw_record(void*) { throw exce_class("own record", "", "", "", "r_file", 9, 1); }
}  // namespace

// Each ends its thread with exactly one fatal record, and nothing else.
TEST_F(ThreadLayer, FatalAlertsAndEscapedExceptionsBecomeOneFatalRecord)
{
	struct {
		THREAD_fn   fn;
		const char* msg1;
		const char* msg2;
		const char* file;
		int         line;
	} cases[] = {
		{fatal_alert, "Fatal from a worker", "second", "ZUzuvir/Files/io_utils", 12},
		{throw_std, "Caught an unhandled C++ exception", "disk on fire", "ZUzuvir/Thread/hl_thread", 366},
		{throw_int, "Caught an unhandled unknown exception", "", "ZUzuvir/Thread/hl_thread", 368},
		{throw_record, "own record", "", "r_file", 9},
	};
	for (auto& c : cases) {
		SCOPED_TRACE(c.msg1);
		run_thread(c.fn);
		exce_class* f = take(quit_exce);
		ASSERT_NE(f, nullptr);
		EXPECT_EQ(f->msg1, c.msg1);
		EXPECT_EQ(f->msg2, c.msg2);
		EXPECT_STREQ(f->file, c.file);
		EXPECT_EQ(f->line, c.line);
		EXPECT_EQ(f->severity, 2);
		delete f;
		EXPECT_EQ(take(quit_exce), nullptr);  // the thread's exit is no second record
		EXPECT_EQ(take(warn_exce), nullptr);
	}
}

TEST_F(ThreadLayer, WarningsWaitForTheirDrainAndShowInOrder)
{
	zuz_test::AlertRecorder rec;
	THREAD_send_exception(exce_class("one", "", "", "", "a", 1, 1));
	THREAD_send_exception(exce_class("dropped", "", "", "", "z", 0, 0));
	THREAD_send_exception(exce_class("two", "2", "", "", "b", 2, 1));
	THREAD_check_exception(0);
	EXPECT_TRUE(rec.alerts.empty());
	THREAD_check_exception(1);
	ASSERT_EQ(rec.alerts.size(), 2u);
	EXPECT_EQ(rec.alerts[0].msg1, "one");
	EXPECT_EQ(rec.alerts[1].msg2, "2");
	EXPECT_EQ(rec.alerts[1].file, "b");
	EXPECT_EQ(rec.alerts[1].type, t_alert);
}

namespace {
void* drain_fatal(void*)
{
	THREAD_check_exception(0);
	return nullptr;
}

void* report(void* record)
{
	static_cast<exce_class*>(record)->Report();
	return nullptr;
}
}  // namespace

TEST_F(ThreadLayer, FatalRecordsWaitForTheMainThread)
{
	THREAD_send_exception(exce_class("gone wrong", "b", "", "d", "some/file", 3, 2));
	app_done = 0;
	run_thread(drain_fatal);  // a worker's check leaves the record queued
	EXPECT_EQ(app_done, 0);
	EXPECT_EQ(log.text(), "");
	auto* record = static_cast<exce_class*>(UTL_message_queue_read(quit_exce, 0));
	ASSERT_NE(record, nullptr);

	// Reported off the main thread, a record is only logged, and the main loop
	// ends the run: nothing is shut down from there.
	run_thread(report, record);
	delete record;
	EXPECT_EQ(app_done, 1);
	EXPECT_EQ(THREAD_is_inited(), 1);
	EXPECT_EQ(log.text(), "EXCEPTION REPORTED FROM THREAD!!  File: some/file, line 3.\ngone wrong\nb\n\nd\n");
	app_done = 0;
}

TEST_F(ThreadLayer, ThreadedContextsAskedForOnlyWhenAvailable)
{
	zuz_test::AlertRecorder rec;
	run_thread([](void*) -> void* { return nullptr; }, nullptr, 1);
	EXPECT_TRUE(rec.alerts.empty());

	// No window, so no context to share: the thread runs without one, once told.
	glExt.threaded_avail = 1;
	run_thread([](void*) -> void* { return nullptr; }, nullptr, 1);
	EXPECT_EQ(glExt.threaded_avail, 0);
	EXPECT_EQ(rec.alerts.size(), 1u);
	run_thread([](void*) -> void* { return nullptr; }, nullptr, 1);
	EXPECT_EQ(rec.alerts.size(), 1u);
}

namespace {
void* wait_for_item(void* q) { return UTL_message_queue_read(static_cast<UTL_message_queue*>(q), -1); }
}  // namespace

TEST_F(ThreadLayer, CallRecordsCompleteOnceAndAreReused)
{
	THREAD_make_workers();
	EXPECT_EQ(worker_threads.size(), (size_t)UTL_count_processors());

	UTL_message_queue* gate;
	UTL_message_queue_create(&gate);
	next_cookie = 0;
	THREAD_call* call = THREAD_run_async(wait_for_item, gate);
	EXPECT_EQ(call->cookie, 4);
	EXPECT_EQ(THREAD_is_done(call, 0), 0);  // still waiting on the gate
	EXPECT_EQ(THREAD_is_done(call, 50), 0);
	int value = 0;
	UTL_message_queue_write(gate, &value);
	EXPECT_EQ(THREAD_is_done(call, -1), 1);
	EXPECT_EQ(THREAD_is_done(call, -1), 1);  // asked again: answers at once
	EXPECT_EQ(THREAD_cleanup(call), &value);

	THREAD_call* again = THREAD_run_async(wait_for_item, gate);
	EXPECT_EQ(again, call);
	EXPECT_EQ(again->cookie, 8);
	UTL_message_queue_write(gate, nullptr);
	EXPECT_EQ(THREAD_is_done(again, -1), 1);
	EXPECT_EQ(THREAD_cleanup(again), nullptr);

	// Past the largest int the cookies run negative and skip 0.
	next_cookie = INT_MAX - 3;
	THREAD_call* last = THREAD_run_async([](void*) -> void* { return nullptr; }, nullptr);
	EXPECT_EQ(last->cookie, INT_MIN);
	next_cookie = -4;
	THREAD_call* wrapped = THREAD_run_async([](void*) -> void* { return nullptr; }, nullptr);
	EXPECT_EQ(wrapped->cookie, 4);
	for (THREAD_call* c : {last, wrapped}) {
		EXPECT_EQ(THREAD_is_done(c, -1), 1);
		THREAD_cleanup(c);
	}
	UTL_message_queue_destroy(gate);
}

TEST(ThreadLayerOff, ShutdownWithoutWorkersAndRecordsOutsideTheLayer)
{
	zuz_test::LogCapture log;
	glExt.threaded_avail = 0;
	THREAD_init();
	EXPECT_TRUE(THREAD_is_main_thread());
	THREAD_shutdown();
	EXPECT_EQ(log.text(), "Clean exit from threads.\n");
	EXPECT_EQ(THREAD_is_inited(), 0);

	// Before the layer starts (or after it stops) records are shown at once.
	zuz_test::AlertRecorder rec;
	THREAD_send_exception(exce_class("early", "", "", "", "e", 1, 1));
	ASSERT_EQ(rec.alerts.size(), 1u);
	EXPECT_EQ(rec.alerts[0].msg1, "early");
}

namespace {

void* worker_throws(void*) { throw std::runtime_error("worker failed"); }

bool queued(UTL_message_queue* q)
{
	pthread_mutex_lock(&q->mutex);
	bool any = !q->items.empty();
	pthread_mutex_unlock(&q->mutex);
	return any;
}

// A frame loop reduced to the drain: the fatal record's alert ends the process.
void run_until_alert(const std::string& log_path, THREAD_fn fn)
{
	xer.open(log_path, std::ios::out | std::ios::trunc);
	glExt.threaded_avail = 0;
	THREAD_init();
	THREAD_make_workers();
	THREAD_run_async(fn, nullptr);
	THREAD_send_exception(exce_class("a warning, never shown", "", "", "", "w", 1, 1));
	while (!queued(quit_exce)) UTL_sleep(1);
	for (;;) {
		THREAD_check_exception(1);
		UTL_sleep(1);
	}
}

}  // namespace

TEST(ThreadLayerDeathTest, WorkerThatThrowsEndsTheProgram)
{
	std::string log_path = std::string(getenv("TMPDIR")) + "/worker_throws_Log.txt";
	EXPECT_EXIT(run_until_alert(log_path, worker_throws), testing::ExitedWithCode(1),
	            "FATAL ERROR \\(ZUzuvir/Thread/hl_thread, line 366\\)\n"
	            "Caught an unhandled C\\+\\+ exception\nworker failed\n");
	std::string text = zuz_test::read_file(log_path);
	EXPECT_NE(text.find("CPU count        : "), std::string::npos);
	EXPECT_NE(text.find("\nCaught an unhandled C++ exception\nworker failed\n"),
	          std::string::npos)
		<< text;
	EXPECT_EQ(text.find("never shown"), std::string::npos) << text;
}

TEST(ThreadLayerDeathTest, CleanupOfACallNotSeenDoneIsFatal)
{
	EXPECT_EXIT(
		{
			glExt.threaded_avail = 0;
			THREAD_init();
			THREAD_cleanup(THREAD_run_async([](void*) -> void* { return nullptr; }, nullptr));
		},
		testing::ExitedWithCode(1), "line 610\\)\nThread cleanup called on not-done call.");
}

// The worker ends inside the alert and never posts completion: the main thread,
// waiting without limit, must still show the record (a stuck child is killed by
// the alarm instead of exiting with 1).
TEST(ThreadLayerDeathTest, MainThreadWaitingOnAWorkerThatDiesShowsItsAlert)
{
	EXPECT_EXIT(
		{
			alarm(10);
			glExt.threaded_avail = 0;
			THREAD_init();
			THREAD_make_workers();
			THREAD_is_done(THREAD_run_async(fatal_alert, nullptr), -1);
		},
		testing::ExitedWithCode(1), "line 12\\)\nFatal from a worker\nsecond\n");
}
