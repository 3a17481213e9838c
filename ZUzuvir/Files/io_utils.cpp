#include "Files/io_utils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "GenC/MACIBM_alert.h"
#include "GenC/MACIBM_findPath.h"
#include "GenC/cmnd.h"
#include "GenC/hl_globals.h"
#include "GenH/hl_string.h"

static const char* const io_src = "ZUzuvir/Files/io_utils";

const char* sErrFile = nullptr;
int         sErrLine = 0;

int io_fail_at(int err, int line)
{
	sErrFile = io_src;
	sErrLine = line;
	return err;
}

std::string io_full_path(const std::string& path)
{
	str_check_len(app_path);
	str_check_len(path);
	std::string full = app_path + path;
	str_check_len(full);
	return full;
}

std::string io_case_repair(const std::string& full)
{
	if (!g_case_sensitive) return full;
	char buf[str_max_len + 1];
	str_check_len(full);
	memcpy(buf, full.c_str(), full.size() + 1);
	findPath(buf);
	return buf;
}

// -------------------------------------------------------------------------
// Files and folders

int delete_file(const std::string& path)
{
	if (path.empty()) return 2;
	std::string full = io_full_path(path);

	if (full.back() == '/') {
		full.pop_back();
		if (rmdir(full.c_str()) != 0) {
			int err = errno;
			// Sidecars left by files deleted elsewhere would keep the folder alive.
			if (!((err == ENOTEMPTY || err == EEXIST) && plat_sidecar_clear_orphans(full) &&
			      rmdir(full.c_str()) == 0))
				return io_fail_at(err, 707);
		}
		plat_sidecar_delete(full);
		return 0;
	}

	if (unlink(full.c_str()) != 0) {
		int err = errno;
		if (err == ENOENT) plat_sidecar_delete(full);
		return io_fail_at(err, 713);
	}
	plat_sidecar_delete(full);
	return 0;
}

int rename_file(const std::string& folder, const std::string& old_name, const std::string& new_name)
{
	std::string from = folder + old_name, to = folder + new_name;
	if (rename(from.c_str(), to.c_str()) != 0) return io_fail_at(errno, 766);
	// The file has its new name; a fork left under the old one is a failure too.
	if (int err = plat_sidecar_rename(from, to)) return io_fail_at(err, 766);
	return 0;
}

int make_folder(const std::string& path)
{
	std::string p = path;
	if (!p.empty() && p.back() == '/') p.pop_back();
	if (mkdir(p.c_str(), 0755) != 0) return io_fail_at(errno, 787);
	return 0;
}

bool file_exists(const std::string& path)
{
	struct stat st;
	return stat(io_case_repair(io_full_path(path)).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool dir_exists(const std::string& path)
{
	std::string full = io_full_path(path);
	if (!full.empty() && full.back() == '/') full.pop_back();
	struct stat st;
	return stat(io_case_repair(full).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

long long VEV_file_size(const std::string& path)
{
	struct stat st;
	if (stat(io_case_repair(io_full_path(path)).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
	return (long long)st.st_size;
}

bool is_sim_link(const std::string& path, std::string* target)
{
	FSRef ref;
	if (plat_path_make_ref(io_full_path(path), &ref) != 0) return false;
	// At most 499 bytes of the target: the server digests a link's target cut
	// the same way, and the two digests must match.
	char buf[499];
	ssize_t n = readlink(ref.path.c_str(), buf, sizeof(buf));
	if (n < 0) return false;
	if (target) target->assign(buf, (size_t)n);
	return true;
}

int make_file_executable(const char* path)
{
	if (chmod(io_full_path(path).c_str(), 0755) != 0) return errno;
	return 0;
}

const std::string& get_path_with_path(std::string& folder, const std::string& path)
{
	static std::string file;
	const size_t search = (!path.empty() && path.back() == '/') ? path.size() - 1 : path.size();
	const size_t slash = search == 0 ? std::string::npos : path.rfind('/', search - 1);
	if (slash == std::string::npos) {
		file = path;
		folder.clear();
	} else {
		std::string leaf = path.substr(slash + 1), dir = path.substr(0, slash + 1);
		file = leaf;
		folder = dir;
	}
	return file;
}

int show_del_err(int)
{
	return 0;
}

int show_make_dir_err(int err)
{
	return (err == 0 || err == 17 || err == -48) ? 0 : 1;
}

int FilePathToFSRefAndName(const std::string& path, FSRef* ref, HFSUniStr255* name)
{
	if (!name) return plat_path_make_ref(path, ref);

	std::string p = path;
	if (p.size() > 1 && p.back() == '/') p.pop_back();
	std::string folder;
	const std::string leaf = get_path_with_path(folder, p);
	if (leaf.size() > 255) return -37;
	name->length = (uint16_t)leaf.size();
	for (size_t i = 0; i < leaf.size(); ++i) name->unicode[i] = (unsigned char)leaf[i];
	if (folder.size() > 1) folder.pop_back();
	if (folder.empty()) folder = ".";
	return plat_path_make_ref(folder, ref);
}

// -------------------------------------------------------------------------
// Folder listings

bool opensave_takeit(const std::string& folder, const std::string& name, int wanted, int* type)
{
	static const struct {
		const char* ending;
		int         type;
	} endings[] = {{".AFL", 4},  {".TXT", 19}, {".WAV", 6},  {".WPN", 5},  {".FMS", 11}, {".BMP", 2},
	               {".ACF", 3},  {".TRA", 13}, {".PNG", 2},  {".OBJ", 7},  {".CAR", 14}, {".FDR", 8},
	               {".SIT", 9},  {".SPA", 15}, {".DSF", 17}, {".SMO", 10}, {".REG", 16}, {".HGT", 18}};

	if (name.size() >= 4) {
		std::string ending = name.substr(name.size() - 4);
		for (char& c : ending) c = (char)toupper((unsigned char)c);
		for (const auto& e : endings)
			if (ending == e.ending) *type = e.type;
	}

	if (wanted == 12) {  // cockpit panel images
		const std::string item = folder + name;
		const std::string panels = std::string("Resources/bitmaps/cockpit/-panels-/").substr(0, 32);
		if (item.size() >= panels.size() && same_ignoring_case(item.data(), panels.data(), panels.size()))
			return false;
		if (item.size() >= 6) {
			const std::string mark = item.substr(item.size() - 6, 3);
			for (const char* m : {"-1.", "-2.", "-3.", "-4."})
				if (mark == m) return false;
		}
	}

	if (name.empty() || name[0] == '.') return false;
	return *type == 1 || *type == wanted || wanted == 0 || (wanted == 12 && *type == 2);
}

int opensave_getitems(const std::string& folder, int mode, std::vector<std::string>& names,
                      std::vector<int>& kinds)
{
	names.clear();
	kinds.clear();

	if (mode == 20 || mode == 21) {
		if (mode == 21) cmnd.get_cmds_in_path(folder, names);
		kinds.assign(names.size(), mode);
		for (size_t i = 0; i < names.size(); ++i)
			if (!names[i].empty() && names[i].back() == '/') {
				names[i].pop_back();
				kinds[i] = 1;
			}
		return (int)names.size();
	}

	const std::string full = io_full_path(folder);
	if (full.size() > 1 && full.back() != '/')
		__MACIBM_alert(0, "Working path does not appear to be a directory!",
		               "This is not consistent with my labelling practices!",
		               "I need to end all paths with the directory indicator!", full, t_exit, io_src, 933);

	std::vector<plat_dir_item> items;
	if (!plat_list_folder(full, items)) return 0;
	std::vector<std::string> kept_names;
	std::vector<int> kept_kinds;
	for (const plat_dir_item& it : items) {
		int kind = it.is_folder ? 1 : 0;
		if (!opensave_takeit(folder, it.name, mode, &kind)) continue;
		kept_names.push_back(it.name);
		kept_kinds.push_back(kind);
	}

	// Letter case ignored, ties in byte order: the order never depends on the
	// order the system lists the folder in.
	std::vector<size_t> order(kept_names.size());
	for (size_t i = 0; i < order.size(); ++i) order[i] = i;
	std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
		const std::string &x = kept_names[a], &y = kept_names[b];
		const size_t n = std::min(x.size(), y.size());
		for (size_t i = 0; i < n; ++i) {
			unsigned char cx = ascii_lower((unsigned char)x[i]), cy = ascii_lower((unsigned char)y[i]);
			if (cx != cy) return cx < cy;
		}
		if (x.size() != y.size()) return x.size() < y.size();
		return x < y;
	});
	for (size_t i : order) {
		names.push_back(kept_names[i]);
		kinds.push_back(kept_kinds[i]);
	}
	return (int)names.size();
}

// -------------------------------------------------------------------------
// Programs and code

int launch_app(const std::string& path, const std::string& arg)
{
	std::string exe = io_full_path(path);
	if (exe.size() > 1 && exe.back() == '/') exe.pop_back();
	exe = plat_app_executable(exe);

	xer << "Launching: " << exe << " with " << arg << "\n";

	std::string flag = "-path", a = arg;
	char* argv[4] = {exe.data(), nullptr, nullptr, nullptr};
	if (!arg.empty()) {
		argv[1] = flag.data();
		argv[2] = a.data();
	}
	int err = plat_launch(exe, argv);
	if (err) return err;

	MACIBM_finishup(1);
	exit(1);
}

int load_bundle_by_filename(const char* name, int alert, void** bundle)
{
	auto fail = [&](int code, const char* msg, int line) {
		if (alert) __MACIBM_alert(0, msg, "", "", name ? name : "", t_exit, io_src, line);
		return code;
	};
	if (!name) return fail(-50, "Could not make strsing.", 1927);

	// The frameworks folder, its URL and the bundle object have no counterpart that
	// can fail here: a library is either not found (-43) or does not load (-37).
	int code = 0;
	void* h = plat_bundle_load(name, &code);
	if (!h) {
		if (code == -43) return fail(-43, "Could not find bundle in frameworks folder", 1946);
		return fail(-37, "Could not load code for framework", 1957);
	}
	if (bundle)
		*bundle = h;
	else
		plat_bundle_release(h);
	return 0;
}

int make_file_large_address_aware(const std::string& path)
{
	FILE* f = fopen(path.c_str(), "r+b");
	if (!f) return errno;

	unsigned char dos[64], pe[24];
	int err = 0;
	long pe_at = 0;
	if (fread(dos, 1, sizeof(dos), f) != sizeof(dos)) {
		err = 5;
	} else if (io_le16(dos) != 0x5A4D) {  // "MZ"
		err = 20013;
	} else if (fseek(f, pe_at = (long)io_le32(dos + 60), SEEK_SET) != 0) {
		err = errno;
	} else if (fread(pe, 1, sizeof(pe), f) != sizeof(pe)) {
		err = 5;
	} else if (io_le32(pe) != 0x00004550) {  // "PE\0\0"
		err = 20014;
	} else {
		pe[22] |= 0x20;  // IMAGE_FILE_LARGE_ADDRESS_AWARE in the characteristics
		if (fseek(f, pe_at, SEEK_SET) != 0)
			err = errno;
		else if (fwrite(pe, 1, sizeof(pe), f) != sizeof(pe))
			err = 5;
	}
	if (fclose(f) != 0 && !err) err = errno;
	return err;
}

// -------------------------------------------------------------------------
// Output files with the framework header

static bool ouf_try(const std::string& full, int type, int version, const std::string& notice)
{
	ouf.close();
	ouf.clear();
	if (type == io_type_text) {
		ouf.open(full, std::ios::out | std::ios::trunc);
		if (!ouf.is_open()) return false;
		ouf << "I\n" << version << " version";
		if (notice != "no-copyright-string") ouf << notice;
		ouf << "\n";
	} else {
		ouf.open(full, std::ios::out | std::ios::trunc | std::ios::binary);
		if (!ouf.is_open()) return false;
		const unsigned char head[5] = {'i', (unsigned char)version, (unsigned char)(version >> 8),
		                               (unsigned char)(version >> 16), (unsigned char)(version >> 24)};
		ouf.write((const char*)head, sizeof(head));
	}
	return true;
}

int ouf_open(const std::string& path, int type, int version, const std::string& notice)
{
	if (type != io_type_binary && type != io_type_text)
		__MACIBM_alert(0, "Bad ouf_open type!", path, "", "", t_exit, io_src, 1036);

	std::string full = app_path + path;
	if (full.size() >= 4)
		for (size_t i = full.size() - 3; i < full.size(); ++i) full[i] = (char)ascii_lower((unsigned char)full[i]);
	str_check_len(app_path);
	str_check_len(path);
	str_check_len(full);

	if (ouf_try(full, type, version, notice)) return 1;
	std::string folder;
	get_path_with_path(folder, full);
	if (!folder.empty()) make_folder(folder);
	if (ouf_try(full, type, version, notice)) return 1;

	ouf_alert(full);
	return 0;
}

void ouf_alert(const std::string& what)
{
	__MACIBM_alert(0,
	               "I could not save the file! Could the directory that the file sits in be missing? Or flagged as "
	               "READ-ONLY by the operating system? (Windows machines typically do this).",
	               what, "Could the file be flagged as read-only? This happens in Windows if you copy it from a CD!",
	               "Try putting this app in the background and then flag the file as NOT read-only, or creating the "
	               "folder listed in the path above.",
	               t_alert, io_src, 1090);
}
