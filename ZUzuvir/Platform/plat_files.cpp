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

static uint32_t get_be32(const unsigned char* p)
{
	return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

static void put_be32(unsigned char* p, uint32_t v)
{
	p[0] = (unsigned char)(v >> 24);
	p[1] = (unsigned char)(v >> 16);
	p[2] = (unsigned char)(v >> 8);
	p[3] = (unsigned char)v;
}

static uint16_t get_be16(const unsigned char* p)
{
	return (uint16_t)(p[0] << 8 | p[1]);
}

static void put_be16(unsigned char* p, uint16_t v)
{
	p[0] = (unsigned char)(v >> 8);
	p[1] = (unsigned char)v;
}

FileInfo plat_finder_info_from_be(const unsigned char be[16])
{
	return {get_be32(be),           get_be32(be + 4),           get_be16(be + 8),
	        (int16_t)get_be16(be + 10), (int16_t)get_be16(be + 12), get_be16(be + 14)};
}

void plat_finder_info_to_be(const FileInfo& fi, unsigned char be[16])
{
	put_be32(be, fi.fileType);
	put_be32(be + 4, fi.fileCreator);
	put_be16(be + 8, fi.finderFlags);
	put_be16(be + 10, (uint16_t)fi.location_v);
	put_be16(be + 12, (uint16_t)fi.location_h);
	put_be16(be + 14, fi.reservedField);
}

bool plat_appledouble_parse(const char* rec, size_t n, plat_appledouble* out)
{
	*out = plat_appledouble();
	const unsigned char* r = (const unsigned char*)rec;
	if (n < 26) return false;
	const size_t count = get_be16(r + 24);
	if (26 + 12 * count > n) return false;
	for (size_t i = 0; i < count; ++i) {
		const unsigned char* e = r + 26 + 12 * i;
		const uint32_t id = get_be32(e), off = get_be32(e + 4), len = get_be32(e + 8);
		if ((uint64_t)off + len > n) return false;
		if (id == 9 && len == 32) out->finder_info = r + off;
		if (id == 2) {
			out->fork = rec + off;
			out->fork_len = len;
		}
	}
	return true;
}

// The sidecar's bytes when it is one; false without a sidecar.
static bool sidecar_read(const std::string& path, std::string* bytes)
{
	const std::string side = plat_sidecar_path(path);
	if (!plat_is_sidecar(side)) return false;
	int fd = open(side.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
	if (fd < 0) return false;
	bytes->clear();
	char buf[65536];
	ssize_t got;
	while ((got = read(fd, buf, sizeof(buf))) > 0) bytes->append(buf, (size_t)got);
	close(fd);
	return got == 0;
}

// Writes the sidecar of `path` whole, under a temporary name first so that a
// full disk never leaves half a sidecar.
static int sidecar_write(const std::string& path, const unsigned char finder_be[16], const char* fork, size_t n)
{
	if (n > 0xFFFFFFFFu - 82) return EFBIG;
	unsigned char head[82] = {0x00, 0x05, 0x16, 0x07, 0x00, 0x02, 0x00, 0x00};
	put_be16(head + 24, 2);
	put_be32(head + 26, 9);
	put_be32(head + 30, 50);
	put_be32(head + 34, 32);
	put_be32(head + 38, 2);
	put_be32(head + 42, 82);
	put_be32(head + 46, (uint32_t)n);
	memcpy(head + 50, finder_be, 16);

	const std::string side = plat_sidecar_path(path), part = side + ".part";
	int fd = open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
	if (fd < 0) return errno;
	int err = 0;
	auto put = [&](const void* data, size_t len) {
		const char* p = (const char*)data;
		while (!err && len) {
			ssize_t w = write(fd, p, len);
			if (w < 0 && errno == EINTR) continue;
			if (w <= 0) err = w < 0 ? errno : EIO;
			else p += w, len -= (size_t)w;
		}
	};
	put(head, sizeof(head));
	put(fork, n);
	if (close(fd) != 0 && !err) err = errno;
	if (!err && rename(part.c_str(), side.c_str()) != 0) err = errno;
	if (err) unlink(part.c_str());
	return err;
}

int plat_get_finder_info(const FSRef& ref, FileInfo* fi)
{
	*fi = FileInfo();
	std::string bytes;
	plat_appledouble ad;
	if (sidecar_read(ref.path, &bytes) && plat_appledouble_parse(bytes.data(), bytes.size(), &ad) && ad.finder_info)
		*fi = plat_finder_info_from_be(ad.finder_info);
	return 0;
}

int plat_set_finder_info(const FSRef& ref, const FileInfo& fi)
{
	std::string bytes;
	plat_appledouble ad;
	const bool had = sidecar_read(ref.path, &bytes) && plat_appledouble_parse(bytes.data(), bytes.size(), &ad);
	unsigned char be[16];
	plat_finder_info_to_be(fi, be);
	static const unsigned char none[16] = {};
	if (!had && !memcmp(be, none, 16)) return 0;  // nothing to keep
	return sidecar_write(ref.path, be, ad.fork, ad.fork ? ad.fork_len : 0);
}

int plat_write_resource_fork(const FSRef& ref, const char* data, size_t n)
{
	std::string bytes;
	plat_appledouble ad;
	unsigned char be[16] = {};
	if (sidecar_read(ref.path, &bytes) && plat_appledouble_parse(bytes.data(), bytes.size(), &ad) && ad.finder_info)
		memcpy(be, ad.finder_info, 16);
	return sidecar_write(ref.path, be, data, n);
}

bool plat_read_resource_fork(const FSRef& ref, std::string* fork)
{
	std::string bytes;
	plat_appledouble ad;
	if (!sidecar_read(ref.path, &bytes) || !plat_appledouble_parse(bytes.data(), bytes.size(), &ad) || !ad.fork)
		return false;
	fork->assign(ad.fork, ad.fork_len);
	return true;
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
