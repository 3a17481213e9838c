#include "GenC/MACIBM_init.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "GenC/MACIBM_alert.h"
#include "GenC/MACIBM_context.h"
#include "GenC/MACIBM_event.h"
#include "GenC/hl_globals.h"
#include "GenH/hl_types.h"
#include "hard_texes/hard_tex_layout.h"
#include "hard_texes/hard_texes.h"
#include "OGL/OGL_extensions.h"
#include "OOPS_cpp/colr.h"
#include "OOPS_cpp/oglp.h"
#include "OOPS_cpp/pref.h"
#include "Platform/plat_signals.h"
#include "Platform/plat_system.h"
#include "Thread/hl_thread.h"
#include "UTL/UTL_cmdline.h"
#include "UTL/UTL_debug.h"

// Up from the first drawable frame of start-up to its end.
static bool init_screen_up = false;

// The interface colours come from the sheet still in scratch_array, so the
// artwork decides them.
static void sample_palette()
{
	for (const hard_tex::swatch& s : hard_tex::swatches) {
		const unsigned char* px = scratch_array + ((size_t)s.y * hard_tex::sheet_size + s.x) * 4;
		colr.assign(s.entry, px[0] / 255.0f, px[1] / 255.0f, px[2] / 255.0f);
	}
	const float* a = colr.palette[35];
	const float* b = colr.palette[38];
	colr.assign(39, (a[0] + b[0]) * 0.5f, (a[1] + b[1]) * 0.5f, (a[2] + b[2]) * 0.5f);
}

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
	sample_palette();

	plat_catch_quit_signals();
	MACIBM_startwind(0);
	init_screen_up = true;
	MACIBM_show_init("Will init plugins.", nullptr);
	MACIBM_show_init("Starting application.", nullptr);
	init_screen_up = false;
}

void MACIBM_show_init(const std::string& message, const float* fraction)
{
	static int counter = 0;
	if (!init_screen_up) return;
	float f = fraction ? *fraction : (float)++counter / 100.0f;
	f = f < 0.02f ? 0.02f : f > 1.0f ? 1.0f : f;

	const float bar_x = 312, bar_y = 360, bar_w = 400, bar_h = 12;
	OGL_plot_back_col();
	OGL_framerect(38, 1, bar_x - 20, bar_y - 20, bar_w + 40, 80);
	str_one_line(43, bar_x + bar_w / 2, bar_y + 24, message, 100, 1);
	OGL_fillrect(37, 1, bar_x, bar_y, bar_w, bar_h);
	OGL_fillrect(40, 1, bar_x, bar_y, bar_w * f, bar_h);
	OGL_sbuff();
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
