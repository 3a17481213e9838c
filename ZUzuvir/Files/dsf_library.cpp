#include "Files/dsf_library.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "Files/dsf_errors.h"
#include "Files/io_utils.h"
#include "GenC/hl_globals.h"
#include "GenH/hl_string.h"
#include "OOPS_cpp/xmap.h"
#include "TEX/TEX_utils.h"
#include "UTL/nedmalloc.h"

static const char* const dsf_lib_src = "ZUzuvir/Files/dsf_library";

// Scenery packages come from anywhere: no library file may take memory out of
// proportion to its size. A region costs 64,800 bytes, so one library file
// defines at most this many (16.6 MB).
static const size_t lib_max_regions = 256;
// A weight repeats its path in a multiple lookup's list: the copies past the
// first that the EXPORT_RATIO lines of one virtual path ask for hold at most
// this many bytes of path.
static const size_t lib_max_ratio_bytes = 4u << 20;

const char* const cus_path = "Custom Scenery/";
const char* const glb_path = "Devori Dorivav/";
const char* const def_path = "Resources/default scenery/";
const char* const obj_path = "Resources/objects/";
const char* const def_ovr_str = "-global overlays-";
const char* const def_ter_str = "-global terrain-";

std::vector<std::string> scenery_packages;
std::vector<int>         package_is_custom;
std::vector<int>         package_problems;

std::map<std::string, lib_entry*>  dsf_library;
std::map<std::string, lib_region*> dsf_regions;

// Entries keep their region after dsf_regions moves on to the next file, so the
// library keeps every region of the scan here until the next scan.
static std::vector<lib_region*> scan_regions;

// What the library keeps with each chain beside dsf_library.
struct lib_chain {
	lib_entry* lead_end = nullptr;  // the last of the non-backup run at the head; null while the head is a backup
	size_t     ratio_bytes = 0;     // the bytes of the copies its ratios ask for, see lib_max_ratio_bytes
};
static std::map<std::string, lib_chain> lib_chains;

void* lib_region::operator new(size_t bytes)
{
	void* mem = nedmalloc(bytes);
	if (!mem) throw std::bad_alloc();
	return mem;
}
void lib_region::operator delete(void* mem)
{
	if (mem) nedfree(mem);  // the allocator takes no null block
}
void* lib_entry::operator new(size_t bytes)
{
	void* mem = nedmalloc(bytes);
	if (!mem) throw std::bad_alloc();
	return mem;
}
void lib_entry::operator delete(void* mem)
{
	if (mem) nedfree(mem);
}

static void release_library()
{
	for (auto& chain : dsf_library)
		for (lib_entry* e = chain.second; e;) {
			lib_entry* next = e->next;
			delete e;
			e = next;
		}
	dsf_library.clear();
	lib_chains.clear();
	dsf_regions.clear();
	for (lib_region* r : scan_regions) delete r;
	scan_regions.clear();
}

// The library lives until the next scan, the last one until exit.
static struct lib_owner {
	~lib_owner() { release_library(); }
} lib_owner_at_exit;

void DSF_RegisterEntry(const std::string& virtual_path, lib_entry* entry)
{
	lib_entry*& first = dsf_library[virtual_path];
	lib_entry*& lead_end = lib_chains[virtual_path].lead_end;
	const bool backup = entry->flags & lib_backup;
	if (!first || (first->flags & lib_backup)) {
		entry->next = first;
		first = entry;
		lead_end = backup ? nullptr : entry;
		return;
	}
	// Behind the run of non-backup entries at the head, before the first backup.
	entry->next = lead_end->next;
	lead_end->next = entry;
	if (!backup) lead_end = entry;
}

// ---------------------------------------------------------------------------
// Reading "library.txt". Each line is parsed between its first byte and its
// line end, so a file cut off inside a line reads no further than its end.

static bool is_blank(char c)
{
	return c == ' ' || c == '\t';
}
static bool is_eoln(char c)
{
	return c == 0 || c == '\r' || c == '\n';
}

static std::string unify_dirchars(std::string path)
{
	for (char& c : path)
		if (c == '\\' || c == ':') c = '/';
	return path;
}

struct lib_line {
	const char* p;
	const char* end;  // the line end

	void skip_blanks()
	{
		while (p < end && is_blank(*p)) ++p;
	}
	std::string word()
	{
		skip_blanks();
		const char* w = p;
		while (p < end && !is_blank(*p)) ++p;
		return std::string(w, p);
	}
	std::string rest()
	{
		skip_blanks();
		std::string r(p, end);
		p = end;
		return r;
	}
	// Paths may come from Windows or old Mac scenery: "\\" and ":" become "/".
	std::string virtual_path() { return unify_dirchars(word()); }
	std::string real_path() { return unify_dirchars(rest()); }
	// An optional sign and decimal digits; other bytes before the blank are
	// passed over. The magnitude saturates, and its low 24 bits are kept apart
	// so that a ratio's weight is exact whatever its length.
	long long number(uint32_t* low24 = nullptr)
	{
		skip_blanks();
		int sign = 1;
		if (p < end && (*p == '+' || *p == '-')) sign = *p++ == '-' ? -1 : 1;
		long long mag = 0;
		uint32_t low = 0;
		for (; p < end && !is_blank(*p); ++p) {
			if (*p < '0' || *p > '9') continue;
			const int d = *p - '0';
			mag = mag > (LLONG_MAX / 20) ? mag : mag * 10 + d;
			low = (low * 10 + (uint32_t)d) & lib_weight_mask;
		}
		if (low24) *low24 = sign < 0 ? (0u - low) & lib_weight_mask : low;
		return sign * mag;
	}
};

static int clamp_int(long long v)
{
	return v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : (int)v;
}

struct lib_reader {
	int         package;
	std::string folder;
	std::string file;  // the library file, named in every report
	lib_region* current = nullptr;
	lib_region* defining = nullptr;

	void add(const std::string& virtual_path, const std::string& real, uint32_t flags)
	{
		lib_entry* e = new lib_entry;
		e->region = current;
		e->package = package;
		e->flags = flags;
		e->path = real;
		DSF_RegisterEntry(virtual_path, e);
	}

	void command(const std::string& cmd, lib_line& line);
	void region_rect(lib_line& line);
	void region_bitmap(const std::string& image);
};

void lib_reader::command(const std::string& cmd, lib_line& line)
{
	static const struct {
		const char* name;
		uint32_t    flags;
	} exports[] = {{"EXPORT", 1 | lib_stop_package},
	               {"EXPORT_EXTEND", 1},
	               {"EXPORT_EXCLUDE", 1 | lib_stop_always},
	               {"EXPORT_BACKUP", 1 | lib_backup}};
	for (const auto& x : exports)
		if (cmd == x.name) {
			const std::string v = line.virtual_path();
			add(v, line.real_path(), x.flags);
			return;
		}

	if (cmd == "EXPORT_RATIO") {
		uint32_t weight = 0;
		const long long ratio = line.number(&weight);
		const std::string v = line.virtual_path();
		const std::string real = line.real_path();
		if (ratio < 0 || ratio > (long long)lib_weight_mask)
			__DSF_NonFatalError(dsf_lib_src, __LINE__, file.c_str(),
			                    "Library error: you cannot have a ratio of more than 2^24 lib items for %s -> %s.",
			                    real.c_str(), v.c_str());
		size_t&      listed = lib_chains[v].ratio_bytes;
		const size_t each = folder.size() + real.size();
		const size_t room = 1 + (lib_max_ratio_bytes - listed) / each;
		if (weight > room) {
			__DSF_NonFatalError(dsf_lib_src, __LINE__, file.c_str(),
			                    "Library error: the ratios for %s list more than %zu bytes of paths; the ratio of %s "
			                    "is cut from %u to %zu.",
			                    v.c_str(), lib_max_ratio_bytes, real.c_str(), weight, room);
			weight = (uint32_t)room;
		}
		if (weight > 1) listed += (weight - 1) * each;
		add(v, real, weight | lib_stop_package);
	} else if (cmd == "REGION_DEFINE") {
		const std::string name = line.word();
		if (dsf_regions.count(name)) {
			__DSF_NonFatalError(dsf_lib_src, __LINE__, file.c_str(),
			                    "REGION_DEFINE %s - region already defined.  Ignoring.", name.c_str());
			defining = nullptr;
			return;
		}
		if (dsf_regions.size() >= lib_max_regions) {
			__DSF_NonFatalError(dsf_lib_src, __LINE__, file.c_str(),
			                    "REGION_DEFINE %s - more than %zu regions in one library file.  Ignoring.", name.c_str(),
			                    lib_max_regions);
			defining = nullptr;
			return;
		}
		lib_region* r = new lib_region;
		r->name = name;
		memset(r->mask, 0, sizeof(r->mask));
		scan_regions.push_back(r);
		dsf_regions[name] = r;
		defining = r;
	} else if (cmd == "REGION_RECT") {
		region_rect(line);
	} else if (cmd == "REGION_BITMAP") {
		region_bitmap(line.word());
	} else if (cmd == "REGION") {
		const std::string name = line.word();
		auto it = dsf_regions.find(name);
		if (it == dsf_regions.end())
			__DSF_NonFatalError(dsf_lib_src, __LINE__, file.c_str(), "REGION %s - region unknown.  Ingoring",
			                    name.c_str());
		else
			current = it->second;
	}
}

void lib_reader::region_rect(lib_line& line)
{
	if (!defining) {
		__DSF_NonFatalError(dsf_lib_src, __LINE__, file.c_str(),
		                    "REGION_RECT command used but no region has been defined.");
		return;
	}
	const long long x1 = line.number() + 180;
	const long long y1 = line.number() + 90;
	const long long x2 = line.number() + 180;
	const long long y2 = line.number() + 90;
	if (!(0 <= x1 && x1 <= x2 && x2 <= 359 && 0 <= y1 && y1 <= y2 && y2 <= 179)) {
		__DSF_NonFatalError(dsf_lib_src, __LINE__, file.c_str(),
		                    "The boundaries to a REGION_RECT command are out of range: %d,%d->%d,%d", clamp_int(x1),
		                    clamp_int(y1), clamp_int(x2), clamp_int(y2));
		return;
	}
	for (long long x = x1; x <= x2; ++x) memset(defining->mask + x * 180 + y1, 1, (size_t)(y2 - y1 + 1));
}

void lib_reader::region_bitmap(const std::string& image)
{
	if (!defining) {
		__DSF_NonFatalError(dsf_lib_src, __LINE__, file.c_str(),
		                    "REGION_BITMAP used with no region defined.  REGION_BITMAP will be ignored.");
		return;
	}
	// The image loader ends the program on a "\\" and on a path past
	// str_max_len; a third party's library file must not. The loader puts an
	// ending on a name that has none.
	const std::string path = folder + unify_dirchars(image);
	const bool ending = path.size() > 4 && path[path.size() - 4] == '.';
	const size_t loaded = app_path.size() + path.size() + (ending ? 0 : 4);
	unsigned char* pixels = nullptr;
	TEX_image_desc desc{};
	if (loaded > (size_t)str_max_len || !TEX_load_any_ext(path, pixels, GL_ALPHA, 0, 0, desc)) {
		__DSF_NonFatalError(dsf_lib_src, __LINE__, file.c_str(),
		                    "Unable to load bitmap file '%s' for REGION_BITMAP command - will skip.", image.c_str());
		return;
	}
	if (desc.width != 360 || desc.height != 180) {
		__DSF_NonFatalError(dsf_lib_src, __LINE__, file.c_str(),
		                    "REGION_BITMAP with bitmap %s has a size of %d, %d but need sa size of 360x180.",
		                    image.c_str(), desc.width, desc.height);
	} else {
		// Rows come bottom-up, so row y is latitude y - 90.
		const size_t row_bytes = 360 + (size_t)desc.pad;
		for (int x = 0; x < 360; ++x)
			for (int y = 0; y < 180; ++y) defining->mask[x * 180 + y] = pixels[y * row_bytes + x] != 0;
	}
	nedfree(pixels);
}

static void read_library(int package)
{
	lib_reader rd;
	rd.package = package;
	rd.folder = scenery_packages[package];
	rd.file = rd.folder + "library.txt";
	// The mapped-file reader refuses a "\\" fatally; a folder name from a third
	// party must not end the program.
	if (rd.file.find('\\') != std::string::npos) {
		if (file_exists(rd.file))
			__DSF_NonFatalError(dsf_lib_src, __LINE__, rd.file.c_str(),
			                    "The package's folder name holds a '\\', which scenery paths cannot use.  Will skip.");
		return;
	}

	xmap_class lib(rd.file);
	if (!lib.base) return;
	static const int versions[] = {800, 0};
	if (!lib.check_file(io_type_text, versions, "LIBRARY", nullptr)) {
		__DSF_NonFatalError(dsf_lib_src, __LINE__, rd.file.c_str(),
		                    "Incorrect version for scenery library file.  Will skip.");
		return;
	}
	dsf_regions.clear();

	const char* p = lib.cursor;
	while (p < lib.end) {
		lib_line line{p, p};
		while (line.end < lib.end && !is_eoln(*line.end)) ++line.end;
		line.skip_blanks();
		const char* w = line.p;
		while (line.p < line.end && !is_blank(*line.p)) ++line.p;
		// A command word counts only with a blank behind it.
		if (line.p < line.end) rd.command(std::string(w, line.p), line);
		p = line.end;
		while (p < lib.end && (is_eoln(*p) || is_blank(*p))) ++p;
	}
}

static void add_packages(const char* root, int custom, bool* overlays, bool* terrain)
{
	std::vector<std::string> names;
	std::vector<int>         kinds;
	opensave_getitems(root, 1, names, kinds);
	for (const std::string& name : names) {
		if (overlays && name == def_ovr_str) {
			*overlays = true;
		} else if (terrain && name == def_ter_str) {
			*terrain = true;
		} else {
			scenery_packages.push_back(root + name + "/");
			package_is_custom.push_back(custom);
		}
	}
}

void DSF_ScanSceneryFolder()
{
	release_library();
	scenery_packages.clear();
	package_is_custom.clear();
	package_problems.clear();

	bool overlays = false, terrain = false;
	add_packages(cus_path, 1, &overlays, &terrain);
	add_packages(glb_path, 0, nullptr, nullptr);
	for (const char* global : {overlays ? def_ovr_str : nullptr, terrain ? def_ter_str : nullptr})
		if (global) {
			scenery_packages.push_back(std::string(cus_path) + global + "/");
			package_is_custom.push_back(1);
		}
	add_packages(def_path, 0, nullptr, nullptr);
	package_problems.assign(scenery_packages.size(), 0);

	xer << "I found the following scenery packages (prioritized in this order):\n";
	for (size_t i = 0; i < scenery_packages.size(); ++i) {
		char num[16];
		snprintf(num, sizeof(num), "%3d", (int)i);
		xer << num << " " << scenery_packages[i] << "\n";
	}
	xer << "\n";
	xer.flush();

	for (size_t i = 0; i < scenery_packages.size(); ++i) read_library((int)i);
}
