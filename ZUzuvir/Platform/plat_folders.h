// Linux stand-ins for the system folders the Mac looks up by name: the
// application's folder, the desktop, the user's applications folder, a
// temporary folder and the preferences folder.
#ifndef PLAT_FOLDERS_H
#define PLAT_FOLDERS_H

#include <string>

// Each sets `folder` to an absolute path ending in "/" and returns 0, or returns
// the errno of the failure and leaves `folder` as it was.
int plat_folder_app(std::string& folder);      // holds the running executable (/proc/self/exe)
int plat_folder_home(std::string& folder);     // $HOME, else the password database
int plat_folder_desktop(std::string& folder);  // $XDG_DESKTOP_DIR when absolute, else $HOME/Desktop
// $XDG_CONFIG_HOME when set, non-empty and absolute, else $HOME/.config;
// created with mode 0700 (and its missing parents) when missing.
int plat_folder_prefs(std::string& folder);
// A folder of this user alone, made once per process with mkdtemp under $TMPDIR
// (or /tmp), so names placed in it cannot be planted by another user.
int plat_folder_temp(std::string& folder);

#endif
