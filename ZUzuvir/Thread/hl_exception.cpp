#include "Thread/hl_exception.h"

#include "GenC/MACIBM_alert.h"
#include "GenC/hl_globals.h"
#include "Thread/hl_thread.h"
#include "UTL/UTL_thread.h"

exce_class::exce_class() : file("no exception"), line(0), severity(2) {}

exce_class::exce_class(std::string m1, std::string m2, std::string m3, std::string m4, const char* f, int l, int s)
	: msg1(std::move(m1)), msg2(std::move(m2)), msg3(std::move(m3)), msg4(std::move(m4)), file(f), line(l), severity(s)
{
}

exce_class::exce_class(const exce_class& rhs) = default;
exce_class& exce_class::operator=(const exce_class& rhs) = default;
exce_class::~exce_class() = default;

void exce_class::MakeFatal()
{
	severity = 2;
}

void exce_class::Report()
{
	if (THREAD_is_inited() && !THREAD_is_main_thread()) {
		xer << "EXCEPTION REPORTED FROM THREAD!!  File: " << (file ? file : "") << ", line " << line << ".\n";
		xer << msg1 << "\n" << msg2 << "\n" << msg3 << "\n" << msg4 << "\n";
		xer.flush();
		// The main loop sees the flag and shuts down on its own thread: from here
		// the shut-down would join this very thread and free the queues under the
		// main thread's feet.
		app_done = 1;
		return;
	}
	__MACIBM_alert(0, msg1, msg2, msg3, msg4, severity, file, line);
}

void exce_class::LogAndContinue()
{
	xer << "Logging " << (severity ? "fatal" : "non-fatal") << " Exception thrown from file: " << (file ? file : "")
	    << ", line " << line << ".\n";
	xer << msg1 << "\n" << msg2 << "\n" << msg3 << "\n" << msg4 << "\n";
	xer.flush();
}

void THREAD_send_exception(const exce_class& e)
{
	if (e.severity != 1 && e.severity != 2) return;

	// Before THREAD_init (or after THREAD_shutdown) there is nowhere to post:
	// show it the way the alert routine would.
	if (!THREAD_is_inited()) {
		exce_class copy(e);
		copy.Report();
		return;
	}

	if (e.severity == 1) {
		UTL_message_queue_write(warn_exce, new exce_class(e));
		return;
	}
	UTL_message_queue_write(quit_exce, new exce_class(e));
	if (!THREAD_is_main_thread()) UTL_thread_exit(nullptr);
}

static void drain(UTL_message_queue* q)
{
	while (exce_class* e = static_cast<exce_class*>(UTL_message_queue_read(q, 0))) {
		e->Report();
		delete e;
	}
}

void THREAD_check_exception(int warnings)
{
	// Only the main thread shows records. Taken by another thread (a worker
	// waiting in THREAD_is_done), a fatal record would only reach the log and the
	// run would end with status 0: leave them for the main thread's next frame.
	if (!THREAD_is_inited() || !THREAD_is_main_thread()) return;
	drain(quit_exce);
	if (warnings) drain(warn_exce);
}
