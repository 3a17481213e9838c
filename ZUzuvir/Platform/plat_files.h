// Linux stand-ins for the Mac file services of the file layer: file references,
// folder listing, resource-fork sidecars, code bundles and launching programs.
#ifndef PLAT_FILES_H
#define PLAT_FILES_H

#include <cstdint>
#include <string>
#include <vector>

// A file reference: names an item that exists. Here it is the item's path.
struct FSRef {
	std::string path;
};

// A leaf name in 16-bit units, as the file references carry it.
struct HFSUniStr255 {
	uint16_t length;
	uint16_t unicode[255];
};

// Reference to an existing item (a symbolic link itself, not its target).
// 0, or -43 when nothing is there.
int plat_path_make_ref(const std::string& path, FSRef* ref);

// One item of a folder listing: its name and whether it is a folder (a link to a
// folder is not one).
struct plat_dir_item {
	std::string name;
	bool        is_folder;
};

// Every entry of `folder` but "." and "..", in the order the system gives them.
// False when the folder cannot be opened.
bool plat_list_folder(const std::string& folder, std::vector<plat_dir_item>& items);

// Resource forks and Finder information live in an AppleDouble file "._NAME"
// beside the file NAME.
const uint32_t plat_appledouble_magic = 0x00051607;  // first 4 bytes, big-endian
std::string plat_sidecar_path(const std::string& path);  // one trailing "/" ignored
bool plat_is_sidecar(const std::string& path);            // begins with the magic
int  plat_sidecar_delete(const std::string& path);        // the sidecar of path, if any; 0 or errno
// Moves the sidecar of `from` to `to`; without one, a sidecar of `to` goes.
// 0 or errno.
int  plat_sidecar_rename(const std::string& from, const std::string& to);
// Removes the sidecars in `folder` whose file is gone; true when any was removed.
bool plat_sidecar_clear_orphans(const std::string& folder);

// Finder information (the first 16 bytes of a catalog record's), in processor order.
struct FileInfo {
	uint32_t fileType;
	uint32_t fileCreator;
	uint16_t finderFlags;
	int16_t  location_v;
	int16_t  location_h;
	uint16_t reservedField;
};
FileInfo plat_finder_info_from_be(const unsigned char be[16]);
void     plat_finder_info_to_be(const FileInfo& fi, unsigned char be[16]);

// What an AppleDouble record holds, pointing into the record: the Finder
// information (entry id 9 of 32 bytes; its first 16 count) and the resource fork
// (entry id 2). Null where absent.
struct plat_appledouble {
	const unsigned char* finder_info = nullptr;
	const char*          fork = nullptr;
	uint32_t             fork_len = 0;
};
// Walks the entry table after the 24-byte header; false when the table or any
// entry reaches past the record's n bytes.
bool plat_appledouble_parse(const char* rec, size_t n, plat_appledouble* out);

// The Finder information and resource fork of an item live in its sidecar, as
// an 82-byte header (Finder information, then the fork's place) and the fork.
// Writers keep the other half of the sidecar and return 0 or errno.
int  plat_set_finder_info(const FSRef& ref, const FileInfo& fi);
int  plat_get_finder_info(const FSRef& ref, FileInfo* fi);  // all 0 without a sidecar
int  plat_write_resource_fork(const FSRef& ref, const char* data, size_t n);
bool plat_read_resource_fork(const FSRef& ref, std::string* fork);  // false: no fork

// Code bundles are shared libraries. A bundle name "N.framework" is looked up as
// the system library "libN.so" (dlopen searches the system's library folders);
// "OpenGL.framework" is the system's libGL, "libGL.so.1".
// Returns the library handle, or null with *code set to the Mac OS code of the
// failing step: -43 unknown name or no such library, -37 the code did not load.
void* plat_bundle_load(const char* name, int* code);
void* plat_bundle_function(void* bundle, const char* function);  // null when absent
void  plat_bundle_release(void* bundle);
const char* plat_bundle_error();  // the system's reason for the last failure

// The program inside an application bundle "X.app/" (Contents/MacOS/X) when it
// is one; the path itself otherwise.
std::string plat_app_executable(const std::string& path);

// Starts `path` with the argument vector argv (null-terminated, argv[0] first)
// as a separate process. 0, or the errno of the failure (the program not found
// or not executable included).
int plat_launch(const std::string& path, char* const argv[]);

#endif
