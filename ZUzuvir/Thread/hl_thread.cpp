#include "Thread/hl_thread.h"

#include <cxxabi.h>

#include <atomic>
#include <cstdint>
#include <exception>

#include "GenC/MACIBM_alert.h"
#include "GenC/hl_globals.h"
#include "OGL/OGL_extensions.h"
#include "Platform/plat_system.h"
#include "Thread/hl_exception.h"

static const char* const kFile = "ZUzuvir/Thread/hl_thread";

// Never a valid record: tells one worker to stop.
static void* const stop_token = reinterpret_cast<void*>(intptr_t(-1));

UTL_thread_t              main_thread;
UTL_message_queue*        warn_exce = nullptr;
UTL_message_queue*        quit_exce = nullptr;
UTL_message_queue*        call_queue = nullptr;
THREAD_call*              free_calls = nullptr;
pthread_mutex_t           free_calls_lock;
int                       next_cookie = 0;
std::vector<UTL_thread_t> worker_threads;
std::vector<UTL_thread_t> worker_threads_join;
std::vector<UTL_thread_t> worker_threads_id;

// Read by any thread (the alert routine asks it), written only by the main thread.
static std::atomic<int> threads_inited{0};

// POSIX threads need no start-up of their own, so the check for the Mac's
// Multiprocessing Services has nothing to test here.
void THREAD_init()
{
	if (!MPIsFullyInitialized())
		__MACIBM_alert(0, "Unable to initialize MP services.", "", "", "", t_exit, kFile, 210);
	main_thread = UTL_get_current_thread();
	UTL_message_queue_create(&warn_exce);
	UTL_message_queue_create(&quit_exce);
	UTL_critical_section_create(&free_calls_lock);
	UTL_message_queue_create(&call_queue);
	threads_inited = 1;
}

int THREAD_is_inited()
{
	return threads_inited;
}

bool THREAD_is_main_thread()
{
	return pthread_equal(UTL_get_current_thread(), main_thread) != 0;
}

void THREAD_create(THREAD_fn fn, void* arg, UTL_thread_t* thread, UTL_thread_t* join, UTL_thread_t* id, int want_gl)
{
	if (!glExt.threaded_avail) want_gl = 0;

	AGLContext context = nullptr;
	if (want_gl) {
		context = MACIBM_make_context_loader();
		if (!context) {
			want_gl = 0;
			glExt.threaded_ogl_failed();
		}
	}

	thread_start_block block;
	block.fn = fn;
	block.arg = arg;
	block.want_gl = want_gl;
	block.context = context;
	UTL_message_queue_create(&block.started_q);
	UTL_thread_create(THREAD_launch, &block, thread, join, id);
	UTL_message_queue_read(block.started_q, -1);
	UTL_message_queue_destroy(block.started_q);

	// The new thread could not make its context current.
	if (block.want_gl != want_gl) glExt.threaded_ogl_failed();
}

// The thread-exit unwind has no object behind its catch reference, which the
// null check of UBSan would report.
__attribute__((no_sanitize("null"))) void* THREAD_launch(void* p)
{
	thread_start_block* block = static_cast<thread_start_block*>(p);
	if (block->want_gl && !MACIBM_set_context_loader(block->context)) block->want_gl = 0;

	THREAD_fn fn = block->fn;
	void* arg = block->arg;
	UTL_message_queue_write(block->started_q, nullptr);  // the block is gone after this

	try {
		return fn(arg);
	} catch (exce_class& e) {
		e.MakeFatal();
		THREAD_send_exception(e);
	} catch (abi::__forced_unwind&) {
		// Thread exit (a fatal record posted from this thread) unwinds the stack;
		// swallowing it would post a second record and abort the process.
		throw;
	} catch (std::exception& e) {
		THREAD_send_exception(exce_class("Caught an unhandled C++ exception", e.what(), "", "", kFile, 366, t_exit));
	} catch (...) {
		THREAD_send_exception(exce_class("Caught an unhandled unknown exception", "", "", "", kFile, 368, t_exit));
	}
	return nullptr;
}

void THREAD_make_workers()
{
	int n = UTL_count_processors();
	xer << "CPU count        : " << n << "\n";
	for (int i = 0; i < n; ++i) {
		UTL_thread_t t, j, id;
		THREAD_create(xtaskproc, nullptr, &t, &j, &id, 1);
		worker_threads.push_back(t);
		worker_threads_join.push_back(j);
		worker_threads_id.push_back(id);
	}
}

void* xtaskproc(void*)
{
	for (;;) {
		void* item = UTL_message_queue_read(call_queue, -1);
		if (item == stop_token) return nullptr;
		THREAD_call* call = static_cast<THREAD_call*>(item);
		void* result = call->fn(call->arg);
		UTL_critical_section_lock(&call->lock);
		call->result = result;
		UTL_critical_section_unlock(&call->lock);
		UTL_message_queue_write(call->done_q, reinterpret_cast<void*>(intptr_t(call->cookie)));
	}
}

THREAD_call* THREAD_run_async(THREAD_fn fn, void* arg)
{
	UTL_critical_section_lock(&free_calls_lock);
	// Wraps through the negative values; 0 would read as "nothing" on done_q.
	int cookie = (int)((unsigned)next_cookie + 4u);
	if (cookie == 0) cookie = 4;
	next_cookie = cookie;
	THREAD_call* call = free_calls;
	if (call) free_calls = call->next;
	UTL_critical_section_unlock(&free_calls_lock);

	if (!call) {
		call = new THREAD_call;
		call->next = nullptr;
		UTL_message_queue_create(&call->done_q);
		UTL_critical_section_create(&call->lock);
	}
	while (UTL_message_queue_read(call->done_q, 0)) {
	}  // the last call's cookie, handed on by its waiters

	UTL_critical_section_lock(&call->lock);
	call->fn = fn;
	call->arg = arg;
	call->result = nullptr;
	call->done = 0;
	call->cookie = cookie;
	UTL_critical_section_unlock(&call->lock);

	UTL_message_queue_write(call_queue, call);
	return call;
}

int THREAD_is_done(THREAD_call* call, int timeout_ms)
{
	THREAD_check_exception(0);

	// The done queue carries one item per call: once it has been seen, asking
	// again must not wait for a second one.
	UTL_critical_section_lock(&call->lock);
	int seen = call->done;
	UTL_critical_section_unlock(&call->lock);
	if (seen) return 1;

	void* item;
	if (timeout_ms == -1 && THREAD_is_main_thread()) {
		// A worker that ends on a fatal alert never posts its cookie: wait in
		// slices and show fatal records between them, so that the alert ends the
		// run instead of this wait.
		while (!(item = UTL_message_queue_read(call->done_q, 50))) THREAD_check_exception(0);
	} else {
		item = UTL_message_queue_read(call->done_q, timeout_ms);
	}
	THREAD_check_exception(0);
	if (!item) return 0;

	UTL_critical_section_lock(&call->lock);
	call->done = 1;
	UTL_critical_section_unlock(&call->lock);
	// Hand the cookie on: another thread may already be waiting on this call.
	UTL_message_queue_write(call->done_q, item);
	return 1;
}

void* THREAD_cleanup(THREAD_call* call)
{
	THREAD_check_exception(0);

	UTL_critical_section_lock(&call->lock);
	if (!call->done) {
		UTL_critical_section_unlock(&call->lock);
		__MACIBM_alert(0, "Thread cleanup called on not-done call.", "", "", "", t_exit, kFile, 610);
		return nullptr;
	}
	void* result = call->result;
	UTL_critical_section_unlock(&call->lock);

	UTL_critical_section_lock(&free_calls_lock);
	call->next = free_calls;
	free_calls = call;
	UTL_critical_section_unlock(&free_calls_lock);
	return result;
}

void THREAD_shutdown()
{
	if (!threads_inited) return;

	size_t n = worker_threads.size();
	for (size_t i = 0; i < n; ++i) UTL_message_queue_write(call_queue, stop_token);
	for (size_t i = 0; i < n; ++i) UTL_thread_join(&worker_threads_join[i], &worker_threads_id[i]);
	worker_threads.clear();
	worker_threads_join.clear();
	worker_threads_id.clear();

	UTL_critical_section_destroy(&free_calls_lock);
	UTL_message_queue_destroy(call_queue);
	call_queue = nullptr;

	while (THREAD_call* call = free_calls) {
		free_calls = call->next;
		UTL_message_queue_destroy(call->done_q);
		UTL_critical_section_destroy(&call->lock);
		delete call;
	}

	UTL_message_queue_destroy(warn_exce);
	UTL_message_queue_destroy(quit_exce);
	warn_exce = quit_exce = nullptr;
	threads_inited = 0;

	xer << "Clean exit from threads.\n";
}
