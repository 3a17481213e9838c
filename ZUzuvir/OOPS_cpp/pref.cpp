#include "OOPS_cpp/pref.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Files/io_errors.h"
#include "Files/io_utils.h"
#include "GenC/hl_globals.h"
#include "Installer-f/inst_services.h"
#include "OOPS_cpp/http.h"
#include "OOPS_cpp/xmap.h"
#include "UTL/UTL_cmdline.h"

pref_class pref;

static const int pref_version = 9002;
static const int pref_versions[] = {pref_version, 0};

// Written in full beside the file, then renamed over it: a full disk or a
// read-only folder leaves the old preferences as they were.
static const char* const draft_suffix = ".tmp";

// The file that a path names once its symbolic links are followed (a link to a
// missing file included), so that saving replaces the file and keeps the link.
// ELOOP, as the system answers, when 40 links lead to yet another link.
static int link_target(const std::string& p, std::string& at)
{
	at = p;
	for (int links = 0;; ++links) {
		char buf[PATH_MAX];
		const ssize_t n = readlink((app_path + at).c_str(), buf, sizeof(buf) - 1);
		if (n <= 0) return 0;
		if (links == 40) return ELOOP;
		std::string to(buf, (size_t)n);
		if (to[0] != '/') {
			std::string folder;
			get_path_with_path(folder, at);
			to = folder + to;
		}
		at = to;
	}
}

scan_class::scan_class(const std::string& p, int d) : dir(d)
{
	if (dir == 1) {
		if (link_target(p, path) != 0) {
			// Nothing is written, so every link stays; the code table has no row
			// for ELOOP, so the reason is the system's own.
			ouf_alert(app_path + p + ": " + strerror(ELOOP));
			return;
		}
		draft = path + draft_suffix;
		opened = ouf_open(draft, io_type_text, pref_version, "no-copyright-string") == 1;
		return;
	}
	xmap_class file(p);
	if (!file.check_file(io_type_text, pref_versions, nullptr, nullptr)) return;
	// Key, blanks, value to the line end; the scanners skip the blanks and
	// blank lines between entries.
	while (file.cursor < file.end) {
		std::string key, value;
		file.TXT_str_scan_space(&key);
		file.TXT_str_scan_eoln(&value);
		if (!key.empty()) values[key] = value;
	}
}

// Only a file written and closed without a failure, and on the disk, replaces
// the old one. Otherwise the draft goes, and the user is told as ouf_open tells
// of a file it cannot create, with the reason.
static void commit_draft(const std::string& draft, const std::string& path)
{
	const std::string from = app_path + draft, to = app_path + path;
	errno = 0;
	ouf.close();
	int err = ouf.fail() ? (errno ? errno : EIO) : 0;
	if (!err) {
		const int fd = open(from.c_str(), O_RDONLY | O_CLOEXEC);
		if (fd < 0 || fsync(fd) != 0) err = errno;
		if (fd >= 0) close(fd);
	}
	if (!err && rename(from.c_str(), to.c_str()) != 0) err = errno;
	if (!err) return;
	unlink(from.c_str());
	ouf_alert(to + ": " + error_str(err));
}

scan_class::~scan_class()
{
	// A draft that could not be created was reported by ouf_open already.
	if (dir == 1 && opened) commit_draft(draft, path);
	values.clear();
}

bool pref_value_ok(const std::string& option, const std::string& value)
{
	if (value.find_first_of("\r\n") == std::string::npos) return true;
	xer << "The option " << option << " is ignored: its value holds a line break, which would begin another "
	       "setting in the preferences file.\n";
	return false;
}

const std::string* scan_class::find(const char* key, std::string* option) const
{
	const std::string name = std::string("--pref:") + key;
	if (cmdline.has_option(name.c_str())) {
		*option = cmdline.get_option(name.c_str());
		if (pref_value_ok(name, *option)) return option;
	}
	auto it = values.find(key);
	return it == values.end() ? nullptr : &it->second;
}

// As atoi reads a number, but a value beyond int is clamped instead of undefined.
static int to_int(const std::string& text)
{
	const long long v = strtoll(text.c_str(), nullptr, 10);
	return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : (int)v;
}

int scan_class::int_io(int* field, const char* key)
{
	if (dir == 1) {
		ouf << key << " " << *field << "\n";
		return 0;
	}
	std::string option;
	const std::string* v = find(key, &option);
	if (!v) return 0;
	*field = to_int(*v);
	return 1;
}

int scan_class::str_io(std::string* field, const char* key)
{
	if (dir == 1) {
		if (!field->empty()) ouf << key << " " << *field << "\n";
		return 0;
	}
	std::string option;
	const std::string* v = find(key, &option);
	if (!v) return 0;
	*field = *v;
	return 1;
}

// The framework's own preferences folder, under the application's.
static const char* const framework_prefs = "Resources/preferences/";

std::string pref_path(int file)
{
	if (file == 10) return framework_prefs + std::string("Res Cirrolux.prf");
	if (file == 12) return framework_prefs + std::string("Cal Nimbara.prf");
	// The mapped-file reader refuses ":" and "\", legal in a Linux folder name;
	// such a folder, like none at all, leaves the file beside the other two.
	std::string folder;
	if (get_OS_abs_path(4, folder) != 0 || folder.find_first_of(":\\") != std::string::npos)
		folder = framework_prefs;
	return folder + "Nimbara Installer.prf";
}

// The display-settings sizes; only the two of the whole screen are used.
static int x_res_req_pln, y_res_req_pln, x_res_req_wrl, y_res_req_wrl, x_res_req_all, y_res_req_all;

static void clamp_res_req()
{
	if (mnw.x_res_req < 600 || mnw.x_res_req > 9999) mnw.x_res_req = 1024;
	if (mnw.y_res_req < 600 || mnw.y_res_req > 9999) mnw.y_res_req = 768;
}

void pref_class::IO_set(int file, int dir)
{
	const std::string path = pref_path(file);
	// Nothing else makes the framework's folder, where the installer's file may
	// fall back to: made as the installer makes its folders, parent first.
	if (file == 11 && dir == 1 && path.rfind(framework_prefs, 0) == 0) {
		make_folder(app_path + "Resources/");
		make_folder(app_path + framework_prefs);
	}
	scan_class s(path, dir);
	if (file == 10) {
		if (dir == 1) {
			mnw._prefs_found = 1;
			x_res_req_all = mnw.x_res_req;
			y_res_req_all = mnw.y_res_req;
		}
		s.int_io(&x_res_req_pln, "_x_res_req_PLN");
		s.int_io(&y_res_req_pln, "_y_res_req_PLN");
		s.int_io(&x_res_req_wrl, "_x_res_req_WRL");
		s.int_io(&y_res_req_wrl, "_y_res_req_WRL");
		s.int_io(&x_res_req_all, "_x_res_req_ALL");
		s.int_io(&y_res_req_all, "_y_res_req_ALL");
		if (dir == 0) {
			mnw.x_res_req = x_res_req_all;
			mnw.y_res_req = y_res_req_all;
		}
		s.int_io(&mnw._col_res_req, "_col_res_req");
		s.int_io(&mnw._set_res, "_set_res");
		s.int_io(&mnw._lang, "_lang");
		s.int_io(&mnw._alias_req, "_alias_req");
		s.int_io(&mnw._keylist_up, "_keylist_up");
		s.int_io(&mnw._sec_mon_inuse, "_sec_mon_inuse");
		s.int_io(&mnw._prefs_found, "_prefs_found");
		clamp_res_req();
	} else if (file == 11) {
		s.int_io(&stg._use_max_cpu, "_use_max_cpu");
		s.int_io(&stg._rename_folder, "_rename_folder");
		s.int_io(&stg._stream_count, "_stream_count");
		s.int_io(&stg._log_actions, "_log_actions");
		s.int_io(&stg._always_ask_dir, "_always_ask_dir");
		s.str_io(&dest_dir_path, "_dest_dir_path");
		s.str_io(&http.proxy_host, "_proxy_host");
		s.str_io(&http.proxy_port_text, "_proxy_port");
		s.int_io(&http.proxy_port, "_proxy_port_int");
	}
}
