#include "Installer-f/inst_services.h"

#include <cerrno>

#include "Platform/plat_folders.h"

stg_class   stg;
std::string dest_dir_path;

// ":" and "\" are ordinary characters of a Linux folder name, so the folder is
// given as the system names it.
int get_OS_abs_path(int place, std::string& path)
{
	switch (place) {
	case 0: return plat_folder_app(path);
	case 1: return plat_folder_desktop(path);
	case 2: return plat_folder_home(path);
	case 3: return plat_folder_temp(path);
	case 4: return plat_folder_prefs(path);
	}
	return EINVAL;
}
