// The thread layer: which thread is the main one, the entry routine of every
// thread the framework starts (its own OpenGL context, escaped exceptions turned
// into fatal alert records), and a pool of workers, one per processor, that run
// queued asynchronous calls.
#ifndef HL_THREAD_H
#define HL_THREAD_H

#include <pthread.h>

#include <vector>

#include "GenC/MACIBM_context.h"
#include "UTL/UTL_thread.h"

typedef void* (*THREAD_fn)(void*);

// One asynchronous call; records are kept for reuse and freed at shut-down.
struct THREAD_call {
	THREAD_call*       next;    // link in the free list
	UTL_message_queue* done_q;  // receives the cookie when the call has run
	pthread_mutex_t    lock;    // guards result and done
	THREAD_fn          fn;
	void*              arg;
	void*              result;
	int                done;    // 1 once the caller has seen completion
	int                cookie;  // a multiple of 4, never 0
};

// What THREAD_create hands to the new thread; lives on the creator's stack until
// the new thread posts to started_q.
struct thread_start_block {
	THREAD_fn          fn;
	void*              arg;
	UTL_message_queue* started_q;
	int                want_gl;
	AGLContext         context;
};

// Program-wide state, zero until THREAD_init.
extern UTL_thread_t               main_thread;
extern UTL_message_queue*         warn_exce;  // warning alert records (exce_class*)
extern UTL_message_queue*         quit_exce;  // fatal alert records (exce_class*)
extern UTL_message_queue*         call_queue;
extern THREAD_call*               free_calls;
extern pthread_mutex_t            free_calls_lock;
extern int                        next_cookie;
extern std::vector<UTL_thread_t>  worker_threads;
extern std::vector<UTL_thread_t>  worker_threads_join;
extern std::vector<UTL_thread_t>  worker_threads_id;

void  THREAD_init();
int   THREAD_is_inited();
bool  THREAD_is_main_thread();
void  THREAD_create(THREAD_fn fn, void* arg, UTL_thread_t* thread, UTL_thread_t* join, UTL_thread_t* id, int want_gl);
void* THREAD_launch(void* block);
void  THREAD_make_workers();
void* xtaskproc(void*);

THREAD_call* THREAD_run_async(THREAD_fn fn, void* arg);
// timeout_ms as for a queue read: 0 poll, -1 forever, else milliseconds.
// 1 once the call has completed (and on every later ask).
int   THREAD_is_done(THREAD_call* call, int timeout_ms);
// The call's result; the record goes back to the pool. Fatal unless completion
// has been seen with THREAD_is_done.
void* THREAD_cleanup(THREAD_call* call);
void  THREAD_shutdown();

#endif
