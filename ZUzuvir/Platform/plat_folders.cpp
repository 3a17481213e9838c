#include "Platform/plat_folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

static std::string with_slash(std::string path)
{
	while (path.size() > 1 && path.back() == '/') path.pop_back();
	if (path.back() != '/') path += '/';
	return path;
}

static const char* absolute_env(const char* name)
{
	const char* v = getenv(name);
	return v && v[0] == '/' ? v : nullptr;
}

// Creates `path` and its missing parents with `mode`; an existing folder is fine.
static int make_folders(const std::string& path, mode_t mode)
{
	for (size_t i = 1; i <= path.size(); ++i) {
		if (i < path.size() && path[i] != '/') continue;
		const std::string part = path.substr(0, i);
		if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return errno;
	}
	struct stat st;
	if (stat(path.c_str(), &st) != 0) return errno;
	return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

int plat_folder_app(std::string& folder)
{
	char buf[PATH_MAX];
	ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
	if (n <= 0) return n < 0 ? errno : ENOENT;
	std::string path(buf, (size_t)n);
	size_t slash = path.rfind('/');
	if (slash == std::string::npos) return ENOENT;
	folder = path.substr(0, slash + 1);
	return 0;
}

int plat_folder_home(std::string& folder)
{
	if (const char* home = absolute_env("HOME")) {
		folder = with_slash(home);
		return 0;
	}
	passwd pw, *found = nullptr;
	char buf[4096];
	int err = getpwuid_r(getuid(), &pw, buf, sizeof(buf), &found);
	if (err) return err;
	if (!found || !pw.pw_dir || pw.pw_dir[0] != '/') return ENOENT;
	folder = with_slash(pw.pw_dir);
	return 0;
}

int plat_folder_desktop(std::string& folder)
{
	if (const char* desk = absolute_env("XDG_DESKTOP_DIR")) {
		folder = with_slash(desk);
		return 0;
	}
	std::string home;
	if (int err = plat_folder_home(home)) return err;
	folder = home + "Desktop/";
	return 0;
}

int plat_folder_prefs(std::string& folder)
{
	std::string path;
	if (const char* config = absolute_env("XDG_CONFIG_HOME")) {
		path = with_slash(config);
	} else {
		std::string home;
		if (int err = plat_folder_home(home)) return err;
		path = home + ".config/";
	}
	if (int err = make_folders(path, 0700)) return err;
	folder = path;
	return 0;
}

int plat_folder_temp(std::string& folder)
{
	static std::string made;  // one per process
	if (made.empty()) {
		const char* base = absolute_env("TMPDIR");
		std::string pattern = with_slash(base ? base : "/tmp") + "nimbara-XXXXXX";
		if (!mkdtemp(pattern.data())) return errno;
		made = pattern + "/";
	}
	folder = made;
	return 0;
}
