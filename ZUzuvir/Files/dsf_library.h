// The scenery resource library: the scenery packages in priority order, the
// virtual paths their "library.txt" files export, lookups of those paths for a
// one-degree tile, and the search for a resource by name in a package and in
// "Resources/". Main thread only: nothing here takes a lock.
#ifndef DSF_LIBRARY_H
#define DSF_LIBRARY_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Folders relative to the application folder.
extern const char* const cus_path;     // "Custom Scenery/"
extern const char* const glb_path;     // "Devori Dorivav/"
extern const char* const def_path;     // "Resources/default scenery/"
extern const char* const obj_path;     // "Resources/objects/"
extern const char* const def_ovr_str;  // "-global overlays-"
extern const char* const def_ter_str;  // "-global terrain-"

// Indexed alike by package number, first = highest priority.
extern std::vector<std::string> scenery_packages;  // folder paths ending in "/"
extern std::vector<int>         package_is_custom;  // 1 inside "Custom Scenery/"
extern std::vector<int>         package_problems;   // 1 once an error was shown

const int lib_tiles = 360 * 180;

// A named part of the globe: tile (lon, lat) is mask[(lon + 180) * 180 + lat + 90].
struct lib_region {
	std::string   name;
	unsigned char mask[lib_tiles];

	// The library allocates through the program's allocator.
	static void* operator new(size_t bytes);
	static void  operator delete(void* mem);
};

const uint32_t lib_weight_mask  = 0x00FFFFFF;  // bits 0..23: the weight
const uint32_t lib_stop_always  = 1u << 24;    // EXPORT_EXCLUDE: nothing after this one
const uint32_t lib_stop_package = 1u << 25;    // EXPORT: nothing of another package after it
const uint32_t lib_backup       = 1u << 26;    // EXPORT_BACKUP

// One exported file.
struct lib_entry {
	lib_entry*  next = nullptr;    // the next entry of the same virtual path
	lib_region* region = nullptr;  // null: every tile
	int         package = 0;
	uint32_t    flags = 0;
	std::string path;              // inside the package folder

	static void* operator new(size_t bytes);
	static void  operator delete(void* mem);
};

extern std::map<std::string, lib_entry*>  dsf_library;  // virtual path -> first of its chain
extern std::map<std::string, lib_region*> dsf_regions;  // regions of the file being read

// Rebuilds the package lists and the library, logging the packages found.
void DSF_ScanSceneryFolder();
// Adds an entry (made with new) under a virtual path; the library owns it from then on.
void DSF_RegisterEntry(const std::string& virtual_path, lib_entry* entry);

// One real path for a virtual path at a tile, chosen by weight with randrat[seed];
// 1 and path replaced, or 0 and path left alone.
int DSF_LookupLibraryResource(int lon, int lat, std::string& path, int seed);
int DSF_LookupLibraryResourceAnywhere(std::string& path, int seed);
// Every candidate, each as many times as its weight; whether there is any.
int DSF_LookupLibraryResourceMultiple(int lon, int lat, const std::string& virtual_path,
                                      std::vector<std::string>& out);
int DSF_LookupLibraryResourceAnywhereMultiple(const std::string& virtual_path, std::vector<std::string>& out);

// Resource kinds: 0 any file, 1 an image (".dds", ".png", ".bmp" tried),
// 2 a terrain-texture file, 3..7 objects.
void DSF_LocateResourceNoLib(int kind, const std::string& name, const std::string& package, bool report,
                             std::string& result);
// The package folder ("Custom Scenery/X/" and the like) a path lies in, or "".
std::string extract_package(const std::string& path);
void DSF_LocateResourceSecondary(int kind, int parent_kind, const std::string& parent_folder,
                                 const std::string& name, bool report, std::string& result);
void DSF_LocateResourcePrimary(int lon, int lat, int kind, const std::string& name, const std::string& package,
                               bool report, std::string& result, int seed);
void DSF_LocateResourcePrimaryMultiple(int lon, int lat, int kind, const std::string& name,
                                       const std::string& package, bool report, std::vector<std::string>& out);
void DSF_LocateResourceSecondaryMultipleWithLibrary(int lon, int lat, int kind, int parent_kind,
                                                    const std::string& parent_folder, const std::string& name,
                                                    bool report, std::vector<std::string>& out);

#endif
