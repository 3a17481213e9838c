#include "GenC/MACIBM_alert.h"

#include <unistd.h>

#include <cstdio>

#include "GenC/hl_globals.h"
#include "Platform/plat_alert.h"
#include "Thread/hl_exception.h"
#include "Thread/hl_thread.h"
#include "UTL/UTL_cmdline.h"
#include "UTL/UTL_debug.h"
#include "UTL/UTL_memory_report.h"

void (*MACIBM_alert_hook)(const MACIBM_alert_rec&) = nullptr;

static void log_alert(const std::string lines[4])
{
	for (int i = 0; i < 4; ++i) xer << lines[i] << "\n";
	xer.flush();
}

void __MACIBM_alert(int wind, std::string msg1, std::string msg2, std::string msg3, std::string msg4,
                    int type, const char* file, int line)
{
	// Only the main thread draws: others post a record for its next frame. A
	// fatal one ends the calling thread inside the post.
	if (THREAD_is_inited() && !THREAD_is_main_thread()) {
		THREAD_send_exception(exce_class(msg1, msg2, msg3, msg4, file, line, type));
		return;
	}

	static int showing = 0;  // alerts now on screen; one raised inside another is fatal
	const bool recursive = showing > 0;
	const bool fps_test = cmdline.has_option("--fps_test");
	const std::string lines[4] = {msg1, msg2, msg3, msg4};

	if (type == t_exit) {
		// Called from here, so the crawl's first line is this routine and the next its caller.
		if (FILE* f = fopen("stack_crawl.txt", "a")) {
			UTL_dump_stack(f, nullptr, nullptr);
			fclose(f);
		}
	}
	if ((type == t_alert || type == t_exit || recursive) && !fps_test) {
		static char label[] =
			"This is the dump_mem_stats call from the following code: if(type==t_exit || type == t_alert || "
			"recursive_error)";
		dump_mem_stats(label);
		log_alert(lines);
	}

	++showing;
	if (fps_test) {
		log_alert(lines);
	} else if (MACIBM_alert_hook) {
		MACIBM_alert_hook({wind, msg1, msg2, msg3, msg4, type, file ? file : "", line});
	} else {
		plat_show_alert(lines, type, file, line);
	}
	--showing;

	if (type == t_exit || recursive) {
		// Where a death test (or a person at a terminal) can read them.
		if (MACIBM_alert_hook || fps_test) plat_show_alert(lines, t_exit, file, line);
		MACIBM_finishup(0);
		fflush(nullptr);
		// Other threads may still be running: leave without static destructors.
		_exit(1);
	}
}
