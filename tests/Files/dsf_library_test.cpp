#include "Files/dsf_library.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "GenC/hl_globals.h"
#include "dsf_test.h"

using strings = std::vector<std::string>;

// The log's report messages (the indented second line of each report), in order.
static strings report_messages(const std::string& log)
{
	strings out;
	std::istringstream in(log);
	for (std::string line; std::getline(in, line);)
		if (line.compare(0, 26, "***Error with scenery file") == 0 && std::getline(in, line))
			out.push_back(line.substr(2));
	return out;
}

TEST_F(SceneryTree, ScanListsPackagesInPriorityOrder)
{
	for (const char* d : {"Custom Scenery/Zeta", "Custom Scenery/beta", "Custom Scenery/Alpha",
	                      "Custom Scenery/-global terrain-", "Custom Scenery/-global overlays-",
	                      "Custom Scenery/-Global Terrain", "Devori Dorivav/KSEA", "Devori Dorivav/custom", "Devori Dorivav/Zz",
	                      "Resources/default scenery/d2", "Resources/default scenery/D1",
	                      "Resources/default scenery/.hidden"})
		std::filesystem::create_directories(d);
	put("Custom Scenery/readme.txt", "not a package");
	put("Resources/default scenery/d3", "a file");

	DSF_ScanSceneryFolder();
	EXPECT_EQ(log.text(),
	          "I found the following scenery packages (prioritized in this order):\n"
	          "  0 Custom Scenery/-Global Terrain/\n"
	          "  1 Custom Scenery/Alpha/\n"
	          "  2 Custom Scenery/beta/\n"
	          "  3 Custom Scenery/Zeta/\n"
	          "  4 Devori Dorivav/custom/\n"
	          "  5 Devori Dorivav/KSEA/\n"
	          "  6 Devori Dorivav/Zz/\n"
	          "  7 Custom Scenery/-global overlays-/\n"
	          "  8 Custom Scenery/-global terrain-/\n"
	          "  9 Resources/default scenery/D1/\n"
	          " 10 Resources/default scenery/d2/\n"
	          "\n");
	EXPECT_EQ(package_is_custom, (std::vector<int>{1, 1, 1, 1, 0, 0, 0, 1, 1, 0, 0}));
	EXPECT_EQ(package_problems, std::vector<int>(11, 0));

	// Without any of the three roots: no packages, and the listing's frame only.
	std::filesystem::remove_all("Custom Scenery");
	std::filesystem::remove_all("Devori Dorivav");
	std::filesystem::remove_all("Resources");
	const size_t before = log.text().size();
	DSF_ScanSceneryFolder();
	EXPECT_EQ(log.text().substr(before), "I found the following scenery packages (prioritized in this order):\n\n");
	EXPECT_TRUE(scenery_packages.empty());
}

// Three packages, A over B over C, whose library files exercise every command.
class SceneryLibrary : public SceneryTree {
protected:
	void SetUp() override
	{
		SceneryTree::SetUp();
		put("Custom Scenery/A/library.txt",
		    "I\n800\nLIBRARY\n\n"
		    "EXPORT         lib/one.obj   a/one.obj\n"
		    "EXPORT_EXTEND  lib/ext.obj   a/ext.obj\n"
		    "EXPORT_EXTEND  lib/excl.obj  a/excl1.obj\n"
		    "\tEXPORT_EXCLUDE lib/excl.obj  a/excl2.obj\n"
		    "EXPORT_EXTEND  lib/excl.obj  a/excl3.obj\n"
		    "EXPORT         lib/two.obj   a/two1.obj\n"
		    "EXPORT         lib/two.obj   a/two2.obj\n"
		    "EXPORT         lib/bak.obj   a/bak.obj\n"
		    "EXPORT_EXTEND  lib/bak2.obj  a/bak2.obj\n"
		    "EXPORT_BACKUP  lib/bb.obj    a/bb.obj\n"
		    "EXPORT_RATIO   3 lib/rat.obj a/rat3.obj\n"
		    "EXPORT_RATIO   +1 lib/rat.obj a/rat1.obj\n"
		    "EXPORT lib\\win.obj  objects:my file.obj \n"
		    "EXPORTS lib/no.obj a/no.obj\n"
		    "EXPORT\n"
		    "REGION_DEFINE west\n"
		    "REGION_RECT -180 -90 -1 89\n"
		    "REGION_DEFINE world\n"
		    "REGION_RECT -180 -90 179 89\n"
		    "REGION west\n"
		    "EXPORT_EXTEND  lib/reg.obj   a/west.obj\n"
		    "EXPORT         lib/only.obj  a/only.obj\n");
		put("Custom Scenery/B/library.txt",
		    "A\n800 version\nLIBRARY\n"
		    "EXPORT         lib/one.obj   b/one.obj\n"
		    "EXPORT         lib/ext.obj   b/ext.obj\n"
		    "EXPORT         lib/excl.obj  b/excl.obj\n"
		    "EXPORT         lib/two.obj   b/two.obj\n"
		    "EXPORT_BACKUP  lib/bak.obj   b/bak.obj\n"
		    "EXPORT_BACKUP  lib/bak2.obj  b/bak2.obj\n"
		    "EXPORT_BACKUP  lib/bb.obj    b/bb.obj\n"
		    "EXPORT_EXTEND  lib/bb.obj    b/bb1.obj\n"
		    "EXPORT_EXTEND  lib/bb.obj    b/bb2.obj\n"
		    "EXPORT_BACKUP  lib/bb.obj    b/bb3.obj\n"
		    "EXPORT_EXTEND  lib/bb.obj    b/bb4.obj\n"
		    "EXPORT_EXTEND  lib/reg.obj   b/reg.obj\n"
		    "EXPORT_RATIO   16777216 lib\\big.obj b:big.obj\n"
		    "EXPORT_RATIO   -16777215 lib/neg.obj b/neg.obj\n"
		    "REGION west\n"
		    "REGION_DEFINE east\n"
		    "REGION_DEFINE east\n"
		    "REGION_RECT 0 -90 180 89\n"
		    "REGION_BITMAP none\n"
		    "REGION_DEFINE r\n"
		    "REGION_RECT -180 -90 180 89\n"
		    "REGION_RECT 10 0 9 0\n"
		    "REGION_RECT -181 -91 -99999999999 99999999999\n"
		    "REGION r\n"
		    "EXPORT         lib/none.obj  b/none.obj\n");
		// Cut off inside its last line, exactly at the end of a page: any read
		// past the end of the file faults.
		std::string c = "I\n800\nLIBRARY\nREGION_RECT 0 0 1 1\nEXPORT lib/one.obj c/one.obj\n";
		c += "EXPORT_EXTEND lib/cut.obj ";
		cut_real.assign(4096 - c.size(), 'x');
		put("Custom Scenery/C/library.txt", c + cut_real);
		put("Custom Scenery/D/library.txt", "I\n810\nLIBRARY\nEXPORT lib/one.obj d/one.obj\n");
		put("Custom Scenery/E:x/library.txt", "I\n800\nLIBRARY\nEXPORT lib/e.obj e.obj\n");
		put("Custom Scenery/F\\x/library.txt", "I\n800\nLIBRARY\nEXPORT lib/f.obj f.obj\n");
		// Past the bounds on ratios and regions: 155,344 more copies of its 27-byte path fill 4 MiB.
		std::string g = "I\n800\nLIBRARY\n"
		                "EXPORT_RATIO 155345 lib/huge.obj g/huge.obj\n"
		                "EXPORT_RATIO 16777215 lib/huge.obj g/huge.obj\n";
		for (int i = 0; i <= 256; ++i) g += "REGION_DEFINE r" + std::to_string(i) + "\n";
		put("Custom Scenery/G/library.txt", g + "REGION_RECT 0 0 0 0\n");
		DSF_ScanSceneryFolder();
	}
	std::string cut_real;
};

TEST_F(SceneryLibrary, WalksListTheCandidatesInOrder)
{
	const std::string A = "Custom Scenery/A/", B = "Custom Scenery/B/", C = "Custom Scenery/C/", G = "Custom Scenery/G/";
	const struct {
		const char* path;
		int         lon, lat;
		strings     want;
	} cases[] = {
		{"lib/one.obj", 0, 0, {A + "a/one.obj"}},                       // EXPORT hides lower packages
		{"lib/ext.obj", 0, 0, {A + "a/ext.obj", B + "b/ext.obj"}},      // EXTEND lets them through
		{"lib/excl.obj", 0, 0, {A + "a/excl1.obj", A + "a/excl2.obj"}},  // EXCLUDE counts, then stops even in its package
		{"lib/two.obj", 0, 0, {A + "a/two1.obj", A + "a/two2.obj"}},    // no stop inside one package
		{"lib/bak.obj", 0, 0, {A + "a/bak.obj"}},                       // EXPORT stops before backups
		{"lib/bak2.obj", 0, 0, {A + "a/bak2.obj", B + "b/bak2.obj"}},
		// Behind a backup head, non-backups in their order, then backups newest first.
		{"lib/bb.obj", 0, 0,
		 {B + "b/bb1.obj", B + "b/bb2.obj", B + "b/bb4.obj", B + "b/bb3.obj", B + "b/bb.obj", A + "a/bb.obj"}},
		{"lib/rat.obj", 0, 0, {A + "a/rat3.obj", A + "a/rat3.obj", A + "a/rat3.obj", A + "a/rat1.obj"}},
		{"lib/big.obj", 0, 0, {}},  // 2^24 keeps its low 24 bits: weight 0
		{"lib/neg.obj", 0, 0, {B + "b/neg.obj"}},
		{"lib/win.obj", 0, 0, {A + "objects/my file.obj "}},
		{"lib/no.obj", 0, 0, {}},
		{"", 0, 0, {}},  // "EXPORT" alone is no command
		{"lib/reg.obj", -1, 0, {A + "a/west.obj", B + "b/reg.obj"}},
		{"lib/reg.obj", 0, 0, {B + "b/reg.obj"}},  // a skipped entry stops nothing
		{"lib/only.obj", -180, -90, {A + "a/only.obj"}},
		{"lib/only.obj", 179, 89, {}},
		{"lib/none.obj", 0, 0, {}},  // every REGION_RECT of its region was out of range
		{"lib/cut.obj", 0, 0, {C + cut_real}},
		{"lib/e.obj", 0, 0, {"Custom Scenery/E:x/e.obj"}},
		{"lib/f.obj", 0, 0, {}},
		{"lib/huge.obj", 0, 0, strings(155346, G + "g/huge.obj")},
	};
	for (const auto& c : cases) {
		strings got;
		EXPECT_EQ(DSF_LookupLibraryResourceMultiple(c.lon, c.lat, c.path, got), !c.want.empty()) << c.path;
		EXPECT_EQ(got, c.want) << c.path << " at " << c.lon << "," << c.lat;
		std::string one = c.path;
		EXPECT_EQ(DSF_LookupLibraryResource(c.lon, c.lat, one, 7), !c.want.empty()) << c.path;
		if (c.want.empty()) {
			EXPECT_EQ(one, c.path);
		}
	}
	strings anywhere;
	EXPECT_TRUE(DSF_LookupLibraryResourceAnywhereMultiple("lib/none.obj", anywhere));
	EXPECT_EQ(anywhere, strings{B + "b/none.obj"});

	EXPECT_EQ(report_messages(log.text()),
	          (strings{"Library error: you cannot have a ratio of more than 2^24 lib items for b/big.obj -> "
	                   "lib/big.obj.",
	                   "Library error: you cannot have a ratio of more than 2^24 lib items for b/neg.obj -> lib/neg.obj.",
	                   "REGION west - region unknown.  Ingoring",
	                   "REGION_DEFINE east - region already defined.  Ignoring.",
	                   "REGION_RECT command used but no region has been defined.",
	                   "REGION_BITMAP used with no region defined.  REGION_BITMAP will be ignored.",
	                   "The boundaries to a REGION_RECT command are out of range: 0,0->360,179",
	                   "The boundaries to a REGION_RECT command are out of range: 190,90->189,90",
	                   "The boundaries to a REGION_RECT command are out of range: -1,-1->-2147483648,2147483647",
	                   "REGION_RECT command used but no region has been defined.",
	                   "Incorrect version for scenery library file.  Will skip.",
	                   "The package's folder name holds a '\\', which scenery paths cannot use.  Will skip.",
	                   "Library error: the ratios for lib/huge.obj list more than 4194304 bytes of paths; the ratio "
	                   "of g/huge.obj is cut from 16777215 to 1.",
	                   "REGION_DEFINE r256 - more than 256 regions in one library file.  Ignoring.",
	                   "REGION_RECT command used but no region has been defined."}));
	// One alert per package at fault.
	strings named;
	for (const auto& a : alerts.alerts) named.push_back(a.msg2);
	EXPECT_EQ(named, (strings{B, C, "Custom Scenery/D/", "Custom Scenery/F\\x/", G}));

	// With candidates from the library, a failed search by name logs nothing.
	strings located;
	DSF_LocateResourcePrimaryMultiple(0, 0, 3, "lib/one.obj", A, true, located);
	EXPECT_EQ(located, strings{A + "a/one.obj"});
	EXPECT_EQ(log.text().find("Failed to find"), std::string::npos);
}

TEST_F(SceneryLibrary, WeightedChoiceFollowsTheRandomTable)
{
	const float saved[3] = {randrat[0], randrat[1], randrat[2]};
	const std::string A = "Custom Scenery/A/";
	// Weights 3 and 1 out of 4: fractions below 0.75 take the first.
	const struct {
		int         seed;
		float       fraction;
		std::string want;
	} cases[] = {
		{0, 0.0f, A + "a/rat3.obj"},   {1, 0.7499f, A + "a/rat3.obj"}, {10001, 0.75f, A + "a/rat1.obj"},
		{2, 0.9998f, A + "a/rat1.obj"},
		{20002, 1.0f, A + "a/rat1.obj"},  // a draw past the total takes the last candidate
	};
	for (const auto& c : cases) {
		randrat[c.seed % 10000] = c.fraction;
		std::string p = "lib/rat.obj";
		EXPECT_EQ(DSF_LookupLibraryResource(0, 0, p, c.seed), 1);
		EXPECT_EQ(p, c.want) << c.seed << " " << c.fraction;
	}

	// Weights past what an int holds.
	for (int i = 0; i < 200; ++i) {
		lib_entry* e = new lib_entry;
		e->flags = lib_weight_mask;
		e->path = i == 199 ? "last" : "heavy";
		DSF_RegisterEntry("heavy", e);
	}
	const struct {
		float       fraction;
		const char* want;
	} heavy[] = {{0.994f, "heavy"}, {0.9999f, "last"}};
	for (const auto& h : heavy) {
		randrat[0] = h.fraction;
		std::string p = "heavy";
		EXPECT_EQ(DSF_LookupLibraryResourceAnywhere(p, 0), 1);
		EXPECT_EQ(p, A + h.want) << h.fraction;
	}
	for (int i = 0; i < 3; ++i) randrat[i] = saved[i];
}

TEST_F(SceneryTree, LocatingByNameTriesEachKindsFolders)
{
	const std::string P = "Custom Scenery/P/";
	// Each folder in turn, each image ending within it.
	auto images = [&](const strings& variants) {
		strings out;
		for (const std::string& f : {P, P + "custom terrain textures/", P + "custom object textures/",
		                             std::string("Resources/bitmaps/terrain/"), std::string("Resources/")})
			for (const std::string& v : variants) out.push_back(f + v);
		return out;
	};
	const struct {
		int         kind;
		const char* name;
		strings     tried;
	} cases[] = {
		{0, "a.txt", {P + "a.txt", "Resources/a.txt"}},
		{1, "t.png", images({"t.dds", "t.png", "t.bmp"})},
		{1, "tpng", images({"tpng", "tpng", "tpng"})},  // too short for an ending
		{2, "t.ter",
		 {P + "t.ter", P + "custom terrain textures/t.ter", "Resources/bitmaps/terrain/t.ter", "Resources/t.ter"}},
		{7, "o.obj", {P + "o.obj", P + "custom objects/o.obj", "Resources/objects/o.obj", "Resources/o.obj"}},
		{9, "x", {P + "x"}},
	};
	for (const auto& c : cases) {
		const size_t before = log.text().size();
		std::string result = "stale";
		DSF_LocateResourceNoLib(c.kind, c.name, P, true, result);
		EXPECT_EQ(result, "");
		std::string want;
		for (const std::string& t : c.tried) want += "Failed to find resource '" + std::string(c.name) + "' at '" + t + "'\n";
		EXPECT_EQ(log.text().substr(before), want) << c.kind;
	}

	put("Resources/objects/o.obj", "o");
	put(P + "custom terrain textures/g.bmp", "g");
	std::string result;
	DSF_LocateResourceSecondary(1, 2, P + "tiles/", "g.png", false, result);
	EXPECT_EQ(result, P + "custom terrain textures/g.bmp");
	strings list;
	DSF_LocateResourcePrimaryMultiple(0, 0, 5, "o.obj", P, false, list);
	EXPECT_EQ(list, strings{"Resources/objects/o.obj"});

	const struct {
		const char *path, *package;
	} packages[] = {
		{"Custom Scenery/KSEA/Earth nav data/+40-130.dsf", "Custom Scenery/KSEA/"},
		{"Custom Scenery/", ""},
		{"Resources/objects/x.obj", ""},
		{"Resources/default scenery/world:x.dsf", "Resources/default scenery/world:"},
	};
	for (const auto& p : packages) EXPECT_EQ(extract_package(p.path), p.package) << p.path;
}

TEST_F(SceneryTree, RegionBitmapsPutNorthUp)
{
	const std::string P = "Custom Scenery/P/";
	std::filesystem::create_directories(P + "maps");
	// White over the north-west corner: longitudes -180..-1, latitudes 80..89.
	const std::string convert = "/usr/bin/convert-im6.q16 -size ";
	ASSERT_EQ(zuz_test::run(convert + "360x180 xc:black -fill white -draw 'rectangle 0,0 179,9' -depth 8 '" + P +
	                        "maps/nw.png'"),
	          0);
	ASSERT_EQ(zuz_test::run(convert + "360x50 xc:white -depth 8 '" + P + "small.bmp'"), 0);
	put(P + "library.txt",
	    "I\n800\nLIBRARY\n"
	    "REGION_DEFINE nw\nREGION_BITMAP maps\\nw.png\nREGION nw\nEXPORT nw.obj nw.obj\n"
	    "REGION_DEFINE small\nREGION_RECT 0 0 0 0\nREGION_BITMAP small\nREGION_BITMAP gone.png\n"
	    "REGION_BITMAP " + std::string(480, 'x') + "\nREGION small\nEXPORT small.obj small.obj\n");
	DSF_ScanSceneryFolder();

	const struct {
		const char* path;
		int         lon, lat;
		bool        found;
	} cases[] = {
		{"nw.obj", -180, 89, true},  {"nw.obj", -1, 80, true},     {"nw.obj", 0, 89, false},
		{"nw.obj", -180, 79, false}, {"nw.obj", -180, -90, false}, {"small.obj", 0, 0, true},  // left as it was
		{"small.obj", 1, 0, false},
	};
	for (const auto& c : cases) {
		std::string p = c.path;
		EXPECT_EQ(DSF_LookupLibraryResource(c.lon, c.lat, p, 0), c.found) << c.path << " " << c.lon << "," << c.lat;
	}
	EXPECT_EQ(report_messages(log.text()),
	          (strings{"REGION_BITMAP with bitmap small has a size of 360, 50 but need sa size of 360x180.",
	                   "Unable to load bitmap file 'gone.png' for REGION_BITMAP command - will skip.",
	                   "Unable to load bitmap file '" + std::string(480, 'x') + "' for REGION_BITMAP command - will skip."}));
}
