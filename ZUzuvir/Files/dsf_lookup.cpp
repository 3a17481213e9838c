// Lookups of the scenery library and the search for resources by name.
#include <cstdint>
#include <cstring>

#include "Files/dsf_library.h"
#include "Files/io_utils.h"
#include "GenC/hl_globals.h"

static bool applies(const lib_entry* e, int lon, int lat, bool anywhere)
{
	if (anywhere || !e->region) return true;
	// Tiles outside the globe are in no region.
	if (lon < -180 || lon > 179 || lat < -90 || lat > 89) return false;
	return e->region->mask[(lon + 180) * 180 + (lat + 90)] != 0;
}

// The candidates of a virtual path at a tile, in chain order.
static void walk(const std::string& virtual_path, int lon, int lat, bool anywhere, std::vector<lib_entry*>& out)
{
	out.clear();
	auto it = dsf_library.find(virtual_path);
	if (it == dsf_library.end()) return;
	for (lib_entry* e = it->second; e; e = e->next) {
		if (!applies(e, lon, lat, anywhere)) continue;
		out.push_back(e);
		if (e->flags & lib_stop_always) break;
		if ((e->flags & lib_stop_package) && e->next && e->next->package != e->package) break;
	}
}

static std::string real_path(const lib_entry* e)
{
	if (e->package < 0 || (size_t)e->package >= scenery_packages.size()) return e->path;
	return scenery_packages[e->package] + e->path;
}

static int lookup_one(int lon, int lat, bool anywhere, std::string& path, int seed)
{
	std::vector<lib_entry*> cands;
	walk(path, lon, lat, anywhere, cands);
	// 64 bits: many entries of weights up to 2^24 overflow an int.
	uint64_t total = 0;
	for (const lib_entry* e : cands) total += e->flags & lib_weight_mask;
	if (total == 0) return 0;

	const uint64_t draw = (uint64_t)((float)total * randrat[(unsigned)seed % 10000u]);
	// A float total can round up past the true one; the last candidate takes such a draw.
	const lib_entry* chosen = cands.back();
	uint64_t sum = 0;
	for (const lib_entry* e : cands) {
		sum += e->flags & lib_weight_mask;
		if (sum > draw) {
			chosen = e;
			break;
		}
	}
	path = real_path(chosen);
	return 1;
}

static int lookup_all(int lon, int lat, bool anywhere, const std::string& virtual_path,
                      std::vector<std::string>& out)
{
	out.clear();
	std::vector<lib_entry*> cands;
	walk(virtual_path, lon, lat, anywhere, cands);
	for (const lib_entry* e : cands) out.insert(out.end(), e->flags & lib_weight_mask, real_path(e));
	return !out.empty();
}

int DSF_LookupLibraryResource(int lon, int lat, std::string& path, int seed)
{
	return lookup_one(lon, lat, false, path, seed);
}

int DSF_LookupLibraryResourceAnywhere(std::string& path, int seed)
{
	return lookup_one(0, 0, true, path, seed);
}

int DSF_LookupLibraryResourceMultiple(int lon, int lat, const std::string& virtual_path,
                                      std::vector<std::string>& out)
{
	return lookup_all(lon, lat, false, virtual_path, out);
}

int DSF_LookupLibraryResourceAnywhereMultiple(const std::string& virtual_path, std::vector<std::string>& out)
{
	return lookup_all(0, 0, true, virtual_path, out);
}

// ---------------------------------------------------------------------------
// Locating by name

static void image_variants(const std::string& name, std::string v[3])
{
	static const char* const endings[3] = {".dds", ".png", ".bmp"};
	for (int i = 0; i < 3; ++i) v[i] = name.size() > 4 ? name.substr(0, name.size() - 4) + endings[i] : name;
}

static void add_each(std::vector<std::string>& c, const std::string& folder, const std::string v[3])
{
	for (int i = 0; i < 3; ++i) c.push_back(folder + v[i]);
}

static bool is_object_kind(int kind)
{
	return kind >= 3 && kind <= 7;
}

// The first existing candidate, or "" after logging every candidate when asked.
static void pick_existing(const std::vector<std::string>& cands, bool report, const std::string& name,
                          const std::string* parent, std::string& result)
{
	for (const std::string& c : cands)
		if (file_exists(c)) {
			result = c;
			return;
		}
	if (!report) return;
	for (const std::string& c : cands) {
		if (parent)
			xer << "Failed to find resource '" << name << "' (parent = '" << *parent << "' at '" << c << "'\n";
		else
			xer << "Failed to find resource '" << name << "' at '" << c << "'\n";
	}
}

void DSF_LocateResourceNoLib(int kind, const std::string& name, const std::string& pkg, bool report,
                             std::string& result)
{
	result.clear();
	std::string v[3];
	image_variants(name, v);
	std::vector<std::string> c;
	if (kind == 0) {
		c = {pkg + name, "Resources/" + name};
	} else if (kind == 1) {
		add_each(c, pkg, v);
		add_each(c, pkg + "custom terrain textures/", v);
		add_each(c, pkg + "custom object textures/", v);
		add_each(c, "Resources/bitmaps/terrain/", v);
		add_each(c, "Resources/", v);
	} else if (kind == 2) {
		c = {pkg + name, pkg + "custom terrain textures/" + name, "Resources/bitmaps/terrain/" + name,
		     "Resources/" + name};
	} else if (is_object_kind(kind)) {
		c = {pkg + name, pkg + "custom objects/" + name, obj_path + name, "Resources/" + name};
	} else {
		c = {pkg + name};
	}
	pick_existing(c, report, name, nullptr, result);
}

std::string extract_package(const std::string& path)
{
	for (const char* root : {cus_path, glb_path, def_path}) {
		const size_t n = strlen(root);
		if (path.compare(0, n, root) != 0) continue;
		const size_t sep = path.find_first_of("\\/:", n);
		return sep == std::string::npos ? std::string() : path.substr(0, sep + 1);
	}
	return std::string();
}

void DSF_LocateResourceSecondary(int kind, int parent_kind, const std::string& folder, const std::string& name,
                                 bool report, std::string& result)
{
	result.clear();
	std::string v[3];
	image_variants(name, v);
	const std::string pkg = extract_package(folder);
	std::vector<std::string> c;
	if (!folder.empty()) {
		if (kind == 1)
			add_each(c, folder, v);
		else
			c.push_back(folder + name);
	}
	if (!pkg.empty()) {
		if (kind == 1)
			add_each(c, pkg + (parent_kind == 2 ? "custom terrain textures/" : "custom object textures/"), v);
		else if (kind == 2)
			c.push_back(pkg + "custom terrain textures/" + name);
		else if (is_object_kind(kind))
			c.push_back(pkg + "custom objects/" + name);
	}
	if (kind == 0) {
		c.push_back("Resources/" + name);
	} else if (kind == 1) {
		add_each(c, "Resources/bitmaps/terrain/", v);
		add_each(c, "Resources/", v);
	} else if (kind == 2) {
		c.push_back("Resources/bitmaps/terrain/" + name);
		c.push_back("Resources/" + name);
	} else if (is_object_kind(kind)) {
		c.push_back(obj_path + name);
		c.push_back("Resources/" + name);
	}
	pick_existing(c, report, name, &folder, result);
}

void DSF_LocateResourcePrimary(int lon, int lat, int kind, const std::string& name, const std::string& pkg,
                               bool report, std::string& result, int seed)
{
	std::string path = name;
	if (DSF_LookupLibraryResource(lon, lat, path, seed))
		result = path;
	else
		DSF_LocateResourceNoLib(kind, name, pkg, report, result);
}

void DSF_LocateResourcePrimaryMultiple(int lon, int lat, int kind, const std::string& name,
                                       const std::string& pkg, bool report, std::vector<std::string>& out)
{
	DSF_LookupLibraryResourceMultiple(lon, lat, name, out);
	std::string found;
	DSF_LocateResourceNoLib(kind, name, pkg, report && out.empty(), found);
	if (!found.empty()) out.push_back(found);
}

void DSF_LocateResourceSecondaryMultipleWithLibrary(int lon, int lat, int kind, int parent_kind,
                                                    const std::string& folder, const std::string& name,
                                                    bool report, std::vector<std::string>& out)
{
	DSF_LookupLibraryResourceMultiple(lon, lat, name, out);
	std::string found;
	DSF_LocateResourceSecondary(kind, parent_kind, folder, name, report && out.empty(), found);
	if (!found.empty()) out.push_back(found);
}
