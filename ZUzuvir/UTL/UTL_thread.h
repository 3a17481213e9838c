// The thin layer over POSIX threads: threads, recursive locks and a FIFO queue
// of pointers with timed reads. Every failing thread call is a fatal alert,
// so callers never see an error result.
#ifndef UTL_THREAD_H
#define UTL_THREAD_H

#include <pthread.h>

#include <list>

typedef pthread_t UTL_thread_t;
typedef void* (*UTL_thread_fn)(void*);

void  UTL_thread_create(UTL_thread_fn fn, void* arg, UTL_thread_t* out1, UTL_thread_t* out2, UTL_thread_t* out3);
void* UTL_thread_join(UTL_thread_t* thread, UTL_thread_t* ignored);
void  UTL_thread_exit(void* result);
void  UTL_thread_murder(UTL_thread_t* thread);
UTL_thread_t UTL_get_current_thread();
int   UTL_count_processors();
void  UTL_sleep(int ms);

// Framework locks are always recursive.
void UTL_critical_section_create(pthread_mutex_t* m);
void UTL_critical_section_destroy(pthread_mutex_t* m);
void UTL_critical_section_lock(pthread_mutex_t* m);
void UTL_critical_section_unlock(pthread_mutex_t* m);

struct UTL_message_queue {
	pthread_mutex_t   mutex;    // default kind; never held across a call out of this layer
	pthread_cond_t    cond;     // signalled when an item arrives and a reader waits
	std::list<void*>  items;    // oldest first; not owned
	int               waiters;  // readers now waiting
};

void  UTL_message_queue_create(UTL_message_queue** out);
void  UTL_message_queue_destroy(UTL_message_queue* q);
void  UTL_message_queue_write(UTL_message_queue* q, void* item);
// timeout_ms 0: no wait; -1: wait without limit; else wait at most that long.
// Returns the oldest item, or null on a time-out.
void* UTL_message_queue_read(UTL_message_queue* q, int timeout_ms);

#endif
