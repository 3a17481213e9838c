// The framework's file layer: create, delete, rename, test, size and list files
// and folders, the framework file header of written files (ouf_open), starting
// another program and loading code bundles. Main thread only.
//
// Results are the numbered codes of io_errors.h. Paths use "/"; a folder path
// ends in "/". "Relative" paths below are prefixed with app_path.
#ifndef IO_UTILS_H
#define IO_UTILS_H

#include <cstdint>
#include <string>
#include <vector>

#include "Platform/plat_files.h"

// Where the last failing step of a file or archive operation is; nothing resets
// them on success.
extern const char* sErrFile;
extern int         sErrLine;
// Records the failing step as line `line` of the file layer; returns err.
int io_fail_at(int err, int line);

// File types of the framework header: binary ("i" or "a", then a 32-bit version)
// and text ("I" or "A" line, then a version line).
const int io_type_binary = 10000;
const int io_type_text   = 10001;

// Little-endian fields of the file formats read here.
inline uint32_t io_le16(const unsigned char* p)
{
	return (uint32_t)p[0] | (uint32_t)p[1] << 8;
}
inline uint32_t io_le32(const unsigned char* p)
{
	return io_le16(p) | io_le16(p + 2) << 16;
}

// app_path + path; each of the two and the whole checked against str_max_len.
std::string io_full_path(const std::string& path);
// The path with its letter case repaired by findPath when g_case_sensitive is set.
std::string io_case_repair(const std::string& full);

int       delete_file(const std::string& path);  // relative; a trailing "/" removes a folder
int       rename_file(const std::string& folder, const std::string& old_name, const std::string& new_name);
int       make_folder(const std::string& path);  // 17 when it exists
bool      file_exists(const std::string& path);  // relative, case repaired
bool      dir_exists(const std::string& path);   // relative, case repaired
long long VEV_file_size(const std::string& path);  // relative, case repaired; -1 folder or missing
bool      is_sim_link(const std::string& path, std::string* target = nullptr);  // relative
int       make_file_executable(const char* path);  // relative; mode 0755

// Lists a folder (relative, ending in "/"). Mode is the wanted type of
// opensave_takeit (0 every visible item, 1 folders only); modes 20 and 21 list
// the command registry instead. kinds[i] is 1 for a folder. Sorted by name,
// letter case ignored. Returns the count.
int opensave_getitems(const std::string& folder, int mode, std::vector<std::string>& names,
                      std::vector<int>& kinds);
// Whether a listed item of *type (1 folder, 0 file) is kept for the wanted
// type; a file's *type becomes the one its name's extension selects.
bool opensave_takeit(const std::string& folder, const std::string& name, int wanted, int* type);

// Splits a path at its last "/" (a trailing "/" does not count): folder gets the
// path up to and including it, and the leaf is returned. The leaf lives in one
// static string shared by every caller.
const std::string& get_path_with_path(std::string& folder, const std::string& path);

int show_del_err(int err);       // always 0: failed deletes are not shown
int show_make_dir_err(int err);  // 1 when the caller must report err

// Starts the program (or the program of an application bundle) at `path`
// (relative), with "-path" and arg when arg is not empty, then shuts this
// program down and exits with status 1. Returns errno when it cannot be started.
int launch_app(const std::string& path, const std::string& arg);

// Loads a code bundle of the system by name (see plat_bundle_load for the names;
// "OpenGL.framework" is the system's libGL). 0 and *bundle set (when given,
// else released), or a Mac OS code; with `alert` set a failure is fatal.
int load_bundle_by_filename(const char* name, int alert, void** bundle = nullptr);

// Sets the large-address-aware flag in the PE header of a Windows executable.
// 0, errno, 5 for a short read or write, 20013 no MZ header, 20014 no PE header.
int make_file_large_address_aware(const std::string& path);

// A file reference for path, or with `name` for its parent folder and the leaf
// as 16-bit units (for items that may not exist yet). 0 or -43.
int FilePathToFSRefAndName(const std::string& path, FSRef* ref, HFSUniStr255* name = nullptr);

// Opens ouf on path (relative) and writes the framework header of `type`.
// notice follows " version" unless it is "no-copyright-string". 1 when open,
// 0 (after a warning alert) when the file cannot be created.
int ouf_open(const std::string& path, int type, int version, const std::string& notice);
// The warning of a file that cannot be saved; `what` names it (and may give the reason).
void ouf_alert(const std::string& what);

#endif
