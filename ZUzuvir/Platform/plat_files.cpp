#include "Platform/plat_files.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

int plat_path_make_ref(const std::string& path, FSRef* ref)
{
	struct stat st;
	if (path.empty() || lstat(path.c_str(), &st) != 0) return -43;
	if (ref) ref->path = path;
	return 0;
}

bool plat_list_folder(const std::string& folder, std::vector<plat_dir_item>& items)
{
	items.clear();
	if (folder.empty()) return false;
	DIR* d = opendir(folder.c_str());
	if (!d) return false;
	std::string base = folder;
	if (!base.empty() && base.back() != '/') base += '/';
	while (dirent* e = readdir(d)) {
		if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
		bool is_folder;
		if (e->d_type == DT_DIR) {
			is_folder = true;
		} else if (e->d_type != DT_UNKNOWN) {
			is_folder = false;
		} else {  // file systems that do not fill d_type
			struct stat st;
			is_folder = lstat((base + e->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
		}
		items.push_back({e->d_name, is_folder});
	}
	closedir(d);
	return true;
}

std::string plat_sidecar_path(const std::string& path)
{
	std::string p = path;
	if (p.size() > 1 && p.back() == '/') p.pop_back();
	size_t slash = p.rfind('/');
	if (slash == std::string::npos) return "._" + p;
	return p.substr(0, slash + 1) + "._" + p.substr(slash + 1);
}

bool plat_is_sidecar(const std::string& path)
{
	int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);  // a FIFO is no sidecar
	if (fd < 0) return false;
	unsigned char b[4];
	bool ok = read(fd, b, 4) == 4 &&
	          ((uint32_t)b[0] << 24 | (uint32_t)b[1] << 16 | (uint32_t)b[2] << 8 | b[3]) == plat_appledouble_magic;
	close(fd);
	return ok;
}

int plat_sidecar_delete(const std::string& path)
{
	std::string side = plat_sidecar_path(path);
	if (plat_is_sidecar(side) && unlink(side.c_str()) != 0) return errno;
	return 0;
}

int plat_sidecar_rename(const std::string& from, const std::string& to)
{
	std::string side = plat_sidecar_path(from);
	if (!plat_is_sidecar(side))  // the replaced file's fork must not pass to the one that took its name
		return plat_sidecar_delete(to);
	return rename(side.c_str(), plat_sidecar_path(to).c_str()) == 0 ? 0 : errno;
}

bool plat_sidecar_clear_orphans(const std::string& folder)
{
	std::vector<plat_dir_item> items;
	if (!plat_list_folder(folder, items)) return false;
	std::string base = folder;
	if (!base.empty() && base.back() != '/') base += '/';
	bool removed = false;
	for (const plat_dir_item& it : items) {
		if (it.is_folder || it.name.size() < 3 || it.name.compare(0, 2, "._") != 0) continue;
		struct stat st;
		if (lstat((base + it.name.substr(2)).c_str(), &st) == 0) continue;  // its file is there
		if (!plat_is_sidecar(base + it.name)) continue;
		if (unlink((base + it.name).c_str()) == 0) removed = true;
	}
	return removed;
}

static std::string bundle_error;

static std::string bundle_library(const char* name)
{
	static const struct {
		const char* bundle;
		const char* library;
	} known[] = {{"OpenGL.framework", "libGL.so.1"}};
	for (const auto& k : known)
		if (!strcmp(name, k.bundle)) return k.library;
	const char* suffix = ".framework";
	size_t n = strlen(name), s = strlen(suffix);
	if (n <= s || strcmp(name + n - s, suffix) != 0 || memchr(name, '/', n)) return "";
	return "lib" + std::string(name, n - s) + ".so";
}

void* plat_bundle_load(const char* name, int* code)
{
	std::string lib = bundle_library(name);
	if (lib.empty()) {
		bundle_error = std::string(name) + " is not a framework name";
		*code = -43;
		return nullptr;
	}
	void* h = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
	if (h) {
		*code = 0;
		return h;
	}
	const char* why = dlerror();
	bundle_error = why ? why : lib + " did not load";
	// dlopen says "cannot open shared object file" when the library is nowhere.
	*code = bundle_error.find("cannot open shared object file") != std::string::npos ? -43 : -37;
	return nullptr;
}

void* plat_bundle_function(void* bundle, const char* function)
{
	return bundle ? dlsym(bundle, function) : nullptr;
}

void plat_bundle_release(void* bundle)
{
	if (bundle) dlclose(bundle);
}

const char* plat_bundle_error()
{
	return bundle_error.c_str();
}

std::string plat_app_executable(const std::string& path)
{
	const std::string ext = ".app";
	std::string p = path;
	if (p.size() > 1 && p.back() == '/') p.pop_back();
	if (p.size() <= ext.size() || p.compare(p.size() - ext.size(), ext.size(), ext) != 0) return path;
	struct stat st;
	if (stat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return path;
	size_t slash = p.rfind('/');
	std::string leaf = p.substr(slash == std::string::npos ? 0 : slash + 1);
	std::string exe = p + "/Contents/MacOS/" + leaf.substr(0, leaf.size() - ext.size());
	return stat(exe.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? exe : path;
}

int plat_launch(const std::string& path, char* const argv[])
{
	// posix_spawn reports a program that cannot be executed to the caller, and
	// nothing allocates in the child before the exec.
	pid_t pid;
	return posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ);
}
