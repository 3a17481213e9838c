// The installer's entry.
#include <cstdlib>

#include "GenC/MACIBM_alert.h"
#include "GenC/MACIBM_event.h"
#include "GenC/MACIBM_init.h"
#include "GenC/hl_globals.h"
#include "Installer-f/inst_services.h"
#include "OOPS_cpp/pref.h"
#include "OOPS_cpp/xtim.h"
#include "UTL/UTL_cmdline.h"

int main(int argc, const char** argv)
{
	MACIBM_init(argc, argv);

	// Defaults first, so that the preference file and its "--pref:" overrides win.
	std::string apps;
	get_OS_abs_path(2, apps);
	dest_dir_path = apps + "Nimbara 9/";
	stg._use_max_cpu = 0;
	stg._rename_folder = 1;
	stg._stream_count = 0;
	stg._always_ask_dir = 0;
	pref.IO_set(11, 0);

	// "-path FOLDER" is how a launched copy of the installer is told where to install.
	const std::string given_path = cmdline.get_next_arg("-path");
	const bool path_given = !given_path.empty() && pref_value_ok("-path", given_path);
	if (path_given) {
		dest_dir_path = given_path;
		if (dest_dir_path.back() != '/') dest_dir_path += '/';
	}
	if (stg._always_ask_dir && !path_given)
		xer << "The destination folder would be asked for here (no folder dialog yet); keeping " << dest_dir_path
		    << "\n";
	xer << "Destination folder: " << dest_dir_path << "\n";
	xer << "Settings         : _use_max_cpu " << stg._use_max_cpu << ", _rename_folder " << stg._rename_folder
	    << ", _stream_count " << stg._stream_count << ", _log_actions " << stg._log_actions
	    << ", _always_ask_dir " << stg._always_ask_dir << "\n";
	xer.flush();

	// For runs with nobody to close the window: the number of frames after which
	// the program ends as if told to.
	const char* frames = getenv("NIMBARA_MAX_FRAMES");
	const long max_frames = frames ? strtol(frames, nullptr, 10) : 0;
	while (!app_done) {
		MACIBM_event_proc();
		if (max_frames > 0 && xtim.frame_count >= max_frames) app_done = 1;
	}

	MACIBM_finishup(1);
	return 0;
}
