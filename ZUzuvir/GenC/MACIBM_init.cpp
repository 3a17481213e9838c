#include "GenC/MACIBM_init.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "GenC/MACIBM_alert.h"
#include "GenC/MACIBM_context.h"
#include "GenC/hl_globals.h"
#include "GenH/hl_types.h"
#include "hard_texes/hard_texes.h"
#include "OGL/OGL_extensions.h"
#include "OOPS_cpp/pref.h"
#include "OOPS_cpp/oglp.h"
#include "Platform/plat_system.h"
#include "Thread/hl_thread.h"
#include "UTL/UTL_cmdline.h"
#include "UTL/UTL_debug.h"

void MACIBM_init(int argc, const char** argv)
{
	UTL_debug_init();

	// The application's folder becomes the working folder; relative paths, the
	// log and the alert reports live there.
	std::string folder = plat_app_folder();
	if (chdir(folder.c_str()) != 0) folder = "./";
	app_path.clear();
	g_case_sensitive = 1;
	plat_utf8_names();

	errno = 0;
	xer.open("Log.txt", std::ios::out | std::ios::trunc);
	int log_errno = xer.is_open() ? 0 : errno;
	MACIBM_init_tables();

	xer << "log.txt for " << build_name[0] << " (built " << __DATE__ << " " << __TIME__ << ")\n";
	xer << "Application folder: " << folder << "\n";
	xer << "System           : " << plat_system_name() << "\n";
	xer << "Processor        : " << plat_processor_name() << "\n";
	xer << "Memory           : " << plat_memory_bytes() / (1024 * 1024) << " MB\n";
	xer << "\n";
	if (xer.is_open() && !xer.flush()) log_errno = errno;  // a full disk shows here
	if (!xer) {
		// The run goes on without a log; say so once.
		fprintf(stderr, "Cannot write Log.txt in %s: %s. Going on without a log.\n", folder.c_str(),
		        strerror(log_errno ? log_errno : EIO));
	}

	cmdline.init_unix(argc, argv);
	THREAD_init();

	MACIBM_make_context();
	OGL_pix_specs(0);
	glExt.init_extensions();
	THREAD_make_workers();
	recall_ins_texes();
}

void MACIBM_show_init(const std::string&, const float*)
{
	// The start-up screen is not drawn yet.
}

void MACIBM_finishup(int save)
{
	if (save) {
		if (!cmdline.has_option("--fps_test")) pref.IO_set(11, 1);
		THREAD_shutdown();
	}
	MACIBM_dispose_contexts();
	xer.close();
}
