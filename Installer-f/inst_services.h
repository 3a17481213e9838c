// What the framework needs of the installer: the system's folders, and the
// installer's settings that its preference file fills.
#ifndef INST_SERVICES_H
#define INST_SERVICES_H

#include <string>

// The installer's settings, named after their preference keys.
struct stg_class {
	int _use_max_cpu = 0;     // run every frame without waiting for events
	int _rename_folder = 0;   // rename the installation folder after the version once updated
	int _stream_count = 0;    // 0: the installer chooses the download streams; 1..4: that many
	int _log_actions = 0;     // a log line per file action
	int _always_ask_dir = 0;  // ask for the destination folder at every start
};
extern stg_class stg;

extern std::string dest_dir_path;  // the installation destination, ending in "/"

// Sets `path` to a system folder, an absolute path ending in "/": place 0 the
// application's folder, 1 the desktop, 2 the applications folder (the home
// folder here), 3 a temporary folder of this user alone, 4 the preferences
// folder (created when missing). 0, or the errno of the failure with `path`
// left as it was.
int get_OS_abs_path(int place, std::string& path);

#endif
