#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Files/io_errors.h"
#include "Files/io_utils.h"
#include "GenC/cmnd.h"
#include "GenC/hl_globals.h"
#include "zuz_test.h"

using zuz_test::read_file;
using zuz_test::write_file;

static bool exists(const std::string& path)
{
	struct stat st;
	return lstat(path.c_str(), &st) == 0;
}

// An AppleDouble sidecar as the archive layer writes them: the magic is what counts.
static void write_sidecar(const std::string& path)
{
	write_file(path, std::string("\x00\x05\x16\x07\x00\x02\x00\x00", 8));
}

TEST(FileUtils, DeleteFilesAndFoldersWithTheirSidecars)
{
	zuz_test::TempDir dir;
	EXPECT_EQ(delete_file(""), 2);

	write_file(dir / "doc", "data");
	write_sidecar(dir / "._doc");
	EXPECT_EQ(delete_file(dir / "doc/"), ENOTDIR);  // a trailing "/" never removes a file
	EXPECT_EQ(sErrLine, 707);
	EXPECT_TRUE(exists(dir / "doc"));
	EXPECT_EQ(delete_file(dir / "doc"), 0);
	EXPECT_FALSE(exists(dir / "doc"));
	EXPECT_FALSE(exists(dir / "._doc"));
	write_sidecar(dir / "._doc");  // an orphan goes even though its file is gone
	EXPECT_EQ(delete_file(dir / "doc"), ENOENT);
	EXPECT_EQ(sErrLine, 713);
	EXPECT_FALSE(exists(dir / "._doc"));
	EXPECT_STREQ(sErrFile, "ZUzuvir/Files/io_utils");

	// A "._" file that is not a sidecar is the user's own and stays.
	write_file(dir / "notes", "n");
	write_file(dir / "._notes", "plain text");
	EXPECT_EQ(delete_file(dir / "notes"), 0);
	EXPECT_TRUE(exists(dir / "._notes"));

	// A folder whose files went with their sidecars, or left only orphan sidecars, goes.
	ASSERT_EQ(make_folder(dir / "f/"), 0);
	write_file(dir / "f/a", "a");
	write_sidecar(dir / "f/._a");
	write_sidecar(dir / "f/._gone");
	write_sidecar(dir / "._f");
	EXPECT_EQ(delete_file(dir / "f/a"), 0);
	EXPECT_EQ(delete_file(dir / "f/"), 0);
	EXPECT_FALSE(exists(dir / "f"));
	EXPECT_FALSE(exists(dir / "._f"));

	// A folder that still holds a file is not emptied.
	ASSERT_EQ(make_folder(dir / "g"), 0);
	write_file(dir / "g/keep", "k");
	write_sidecar(dir / "g/._keep");
	EXPECT_EQ(delete_file(dir / "g/"), ENOTEMPTY);
	EXPECT_TRUE(exists(dir / "g/._keep"));
}

TEST(FileUtils, MakeFolderAndRename)
{
	zuz_test::TempDir dir;
	EXPECT_EQ(make_folder(dir / "new/"), 0);
	EXPECT_EQ(make_folder(dir / "new"), EEXIST);
	EXPECT_EQ(sErrLine, 787);
	EXPECT_EQ(show_make_dir_err(EEXIST), 0);
	EXPECT_EQ(make_folder(dir / "a/b/c"), ENOENT);  // one level only
	for (int err : {0, EEXIST, -48, ENOENT, -43}) EXPECT_EQ(show_make_dir_err(err), err == ENOENT || err == -43) << err;
	EXPECT_EQ(show_del_err(ENOENT), 0);

	// The modes, whatever the user's mask.
	const mode_t mask = umask(0);
	make_folder(dir / "open/");
	write_file(dir / "tool", "");
	make_file_executable((dir / "tool").c_str());
	umask(mask);
	struct stat st, tool;
	stat((dir / "open").c_str(), &st);
	stat((dir / "tool").c_str(), &tool);
	EXPECT_EQ(st.st_mode, S_IFDIR | 0755);
	EXPECT_EQ(tool.st_mode, S_IFREG | 0755);
	EXPECT_EQ(make_file_executable((dir / "absent").c_str()), ENOENT);

	write_file(dir / "old", "x");
	write_sidecar(dir / "._old");
	EXPECT_EQ(rename_file(dir.path(), "old", "new/moved"), 0);
	EXPECT_EQ(read_file(dir / "new/moved"), "x");
	EXPECT_TRUE(exists(dir / "new/._moved"));
	EXPECT_FALSE(exists(dir / "._old"));
	EXPECT_EQ(rename_file(dir.path(), "old", "other"), ENOENT);
	EXPECT_EQ(sErrLine, 766);

	// A file renamed over another replaces its resource fork too, even with none of its own.
	write_file(dir / "plain", "p");
	write_file(dir / "target", "t");
	write_sidecar(dir / "._target");
	EXPECT_EQ(rename_file(dir.path(), "plain", "target"), 0);
	EXPECT_EQ(read_file(dir / "target"), "p");
	EXPECT_FALSE(exists(dir / "._target"));

	// A fork that cannot follow its file is reported, not left behind in silence.
	write_file(dir / "forked", "f");
	write_sidecar(dir / "._forked");
	make_folder(dir / "._blocked");
	write_file(dir / "._blocked/x", "");
	sErrLine = 0;
	EXPECT_EQ(rename_file(dir.path(), "forked", "blocked"), EISDIR);
	EXPECT_EQ(sErrLine, 766);
	EXPECT_TRUE(exists(dir / "._forked"));
}

TEST(FileUtils, ExistenceSizeAndLinks)
{
	zuz_test::TempDir dir;
	write_file(dir / "Data.TXT", std::string(1234, 'x'));
	make_folder(dir / "Sub");
	symlink("Data.TXT", (dir / "link").c_str());
	symlink("Sub", (dir / "dirlink").c_str());
	const std::string long_target(900, 't');
	symlink(long_target.c_str(), (dir / "longlink").c_str());
	ASSERT_EQ(truncate((write_file(dir / "huge", ""), dir / "huge").c_str(), 5ll << 30), 0);  // sparse

	const struct {
		std::string name;
		bool        file, folder;
		long long   size;
	} cases[] = {
		{"Data.TXT", true, false, 1234}, {"Sub", false, true, -1},  {"Sub/", false, true, -1},
		{"missing", false, false, -1},   {"link", true, false, 1234}, {"dirlink", false, true, -1},
		{"huge", true, false, 5ll << 30},  // sizes past 4 GiB are not cut to 32 bits
	};
	g_case_sensitive = 0;
	for (const auto& c : cases) {
		EXPECT_EQ(file_exists(dir / c.name), c.file) << c.name;
		EXPECT_EQ(dir_exists(dir / c.name), c.folder) << c.name;
		EXPECT_EQ(VEV_file_size(dir / c.name), c.size) << c.name;
	}

	EXPECT_FALSE(file_exists(std::string(499, 'p')));  // the longest path allowed, not an alert

	// The wrong letter case finds the file only while case repair is on.
	EXPECT_FALSE(file_exists(dir / "data.txt"));
	g_case_sensitive = 1;
	EXPECT_TRUE(file_exists(dir / "data.txt"));
	EXPECT_TRUE(dir_exists(dir / "SUB/"));
	EXPECT_EQ(VEV_file_size(dir / "DATA.txt"), 1234);
	g_case_sensitive = 0;

	std::string target = "unchanged";
	EXPECT_TRUE(is_sim_link(dir / "link", &target));
	EXPECT_EQ(target, "Data.TXT");
	EXPECT_TRUE(is_sim_link(dir / "dirlink"));
	EXPECT_TRUE(is_sim_link(dir / "longlink", &target));
	EXPECT_EQ(target, long_target.substr(0, 499));  // cut as the server cuts it
	target = "unchanged";
	EXPECT_FALSE(is_sim_link(dir / "Data.TXT", &target));
	EXPECT_FALSE(is_sim_link(dir / "missing", &target));
	EXPECT_EQ(target, "unchanged");
}

TEST(FileUtils, SplitPaths)
{
	const struct {
		const char *path, *folder, *leaf;
	} cases[] = {
		{"one/two/three/", "one/two/", "three/"},
		{"one/two/file.txt", "one/two/", "file.txt"},
		{"name", "", "name"},
		{"", "", ""},
		{"/abs", "/", "abs"},
		{"/", "", "/"},
	};
	for (const auto& c : cases) {
		std::string folder = "junk";
		const std::string& leaf = get_path_with_path(folder, c.path);
		EXPECT_EQ(folder, c.folder) << c.path;
		EXPECT_EQ(leaf, c.leaf) << c.path;
	}
	std::string same = "a/b/c";
	EXPECT_EQ(get_path_with_path(same, same), "c");  // folder and path may be one string
	EXPECT_EQ(same, "a/b/");

	zuz_test::TempDir dir;
	FSRef ref;
	HFSUniStr255 name;
	// Bytes widen one by one, up to a 255-byte leaf; one more is a bad name.
	const std::string leaf = std::string(254, 'n') + "\xe9";
	EXPECT_EQ(FilePathToFSRefAndName(dir / (leaf + "/"), &ref, &name), 0);  // one trailing "/" ignored
	EXPECT_EQ(ref.path + "/", dir.path());  // the parent's reference
	EXPECT_EQ(std::u16string((const char16_t*)name.unicode, name.length), std::u16string(254, u'n') + u"\u00e9");
	EXPECT_EQ(FilePathToFSRefAndName(dir / ("x" + leaf + "/"), &ref, &name), -37);
	EXPECT_EQ(FilePathToFSRefAndName(dir / "not-yet.txt", &ref), -43);
	write_file(dir / "made.txt", "");
	EXPECT_EQ(FilePathToFSRefAndName(dir / "made.txt", &ref), 0);
	EXPECT_EQ(ref.path, dir / "made.txt");
	EXPECT_EQ(FilePathToFSRefAndName(dir / "no/such.txt", &ref, &name), -43);
	// Relative paths: the parent without its "/", or the working folder.
	std::string parents;
	{
		zuz_test::InFolder here(dir.path());
		make_folder("a");
		for (const char* path : {"a/new", "new"}) {
			ref.path = "unset";
			EXPECT_EQ(FilePathToFSRefAndName(path, &ref, &name), 0);
			parents += ref.path + " ";
		}
	}
	EXPECT_EQ(parents, "a . ");
}

TEST(FileUtils, ListingsFilterAndSortIgnoringCase)
{
	zuz_test::TempDir dir;
	for (const char* f : {"b.txt", "B.txt", "a.PNG", ".hidden", "._b.txt", "Zed.acf", "fold"}) write_file(dir / f, "x");
	for (const char* d : {"Folder", "maps.png"}) make_folder(dir / d);
	symlink("Folder", (dir / "link").c_str());

	std::vector<std::string> names;
	std::vector<int> kinds;
	ASSERT_EQ(opensave_getitems(dir.path(), 0, names, kinds), 8);
	// Ties in letter case fall back to byte order ("B" before "b"); a name's start sorts before it.
	EXPECT_EQ(names, (std::vector<std::string>{"a.PNG", "B.txt", "b.txt", "fold", "Folder", "link", "maps.png", "Zed.acf"}));
	EXPECT_EQ(kinds, (std::vector<int>{2, 19, 19, 0, 1, 0, 2, 3}));  // a folder's name ending picks its type too

	ASSERT_EQ(opensave_getitems(dir.path(), 1, names, kinds), 1);  // folders only; a link is not one
	EXPECT_EQ(names, (std::vector<std::string>{"Folder"}));
	EXPECT_EQ(opensave_getitems(dir / "nowhere/", 0, names, kinds), 0);
	EXPECT_TRUE(names.empty());

	// Each name ending picks its type; panel images are kept out of the cockpit listing.
	const struct {
		const char *folder, *name;
		int         wanted, type, keep, type_after;
	} takes[] = {
		{"", "a.afl", 4, 0, 1, 4},   {"", "a.txt", 19, 0, 1, 19}, {"", "a.wav", 6, 0, 1, 6},
		{"", "a.wpn", 5, 0, 1, 5},   {"", "a.fms", 11, 0, 1, 11}, {"", "a.bmp", 2, 0, 1, 2},
		{"", "a.acf", 3, 0, 1, 3},   {"", "a.tra", 13, 0, 1, 13}, {"", "a.png", 2, 0, 1, 2},
		{"", "a.obj", 7, 0, 1, 7},   {"", "a.car", 14, 0, 1, 14}, {"", "a.fdr", 8, 0, 1, 8},
		{"", "a.sit", 9, 0, 1, 9},   {"", "a.spa", 15, 0, 1, 15}, {"", "a.dsf", 17, 0, 1, 17},
		{"", "a.smo", 10, 0, 1, 10}, {"", "a.reg", 16, 0, 1, 16}, {"", "a.hgt", 18, 0, 1, 18},
		{"", "a.hgt", 17, 0, 0, 18}, {"", "readme", 17, 5, 0, 5},  {"", "abc", 0, 5, 1, 5},   {"", ".Png", 0, 0, 0, 2},
		{"", "x.png", 12, 0, 1, 2},  {"", "x.txt", 12, 0, 0, 19}, {"", "plain", 12, 1, 1, 1},
		{"resources/BITMAPS/cockpit/-panel", "x.png", 12, 0, 0, 2},
		{"Resources/bitmaps/cockpit/-pane/", "x.png", 12, 0, 1, 2},
		{"cockpit/", "panel-2.png", 12, 0, 0, 2}, {"cockpit/", "panel-5.png", 12, 0, 1, 2},
		{"cockpit/", "-4.png", 0, 0, 1, 2},
	};
	for (const auto& t : takes) {
		int type = t.type;
		EXPECT_EQ(opensave_takeit(t.folder, t.name, t.wanted, &type), (bool)t.keep) << t.folder << t.name;
		EXPECT_EQ(type, t.type_after) << t.folder << t.name;
	}

	cmnd.add_cmnd("listing/alpha", "");
	cmnd.add_cmnd("listing/beta/one", "");
	ASSERT_EQ(opensave_getitems("listing/", 21, names, kinds), 2);
	EXPECT_EQ(names, (std::vector<std::string>{"alpha", "beta"}));
	EXPECT_EQ(kinds, (std::vector<int>{21, 1}));
}

TEST(FileUtilsDeathTest, OverlongPathsUnmarkedFoldersAndMissingBundlesAreFatal)
{
	EXPECT_EXIT(file_exists(std::string(500, 'p')), testing::ExitedWithCode(1),
	            "FATAL ERROR \\(ZUzuvir/GenH/hl_string, line 137\\)\nString too long!\np{500}");
	EXPECT_EXIT(
		{
			app_path = std::string(300, 'a');
			delete_file(std::string(250, 'b'));
		},
		testing::ExitedWithCode(1), "String too long!");
	std::vector<std::string> names;
	std::vector<int> kinds;
	EXPECT_EXIT(opensave_getitems("ab", 0, names, kinds), testing::ExitedWithCode(1),
	            "line 933\\)\nWorking path does not appear to be a directory!");
	EXPECT_EXIT(load_bundle_by_filename("NoSuchKit.framework", 1), testing::ExitedWithCode(1),
	            "line 1946\\)\nCould not find bundle in frameworks folder\nNoSuchKit.framework");
	// The children's crawls land in this test's own folder, not in one the test binaries share.
	EXPECT_EQ(access("stack_crawl.txt", F_OK), 0);
}

// A minimal Windows executable: DOS header, PE signature, COFF header for i386
// and an empty 32-bit optional header, as objdump reads it.
static std::string small_pe()
{
	std::string f(0x80 + 24 + 224, '\0');
	f[0] = 'M';
	f[1] = 'Z';
	f[60] = (char)0x80;  // offset of the PE header
	std::string pe = std::string("PE\0\0", 4);
	const unsigned char coff[20] = {0x4c, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 224, 0, 0x02, 0x01};
	pe.append((const char*)coff, 20);
	f.replace(0x80, pe.size(), pe);
	f[0x80 + 24] = 0x0b;  // PE32 optional header magic
	f[0x80 + 25] = 0x01;
	return f;
}

TEST(FileUtils, LargeAddressAwareFlagAsObjdumpSeesIt)
{
	zuz_test::TempDir dir;
	const std::string exe = dir / "small.exe";
	write_file(exe, small_pe());
	std::string before, after;
	ASSERT_EQ(zuz_test::run("objdump -p '" + exe + "'", &before), 0) << before;
	EXPECT_EQ(before.find("large address aware"), std::string::npos) << before;
	EXPECT_EQ(make_file_large_address_aware(exe), 0);
	ASSERT_EQ(zuz_test::run("objdump -p '" + exe + "'", &after), 0);
	EXPECT_NE(after.find("large address aware"), std::string::npos) << after;
	EXPECT_NE(after.find("executable"), std::string::npos) << after;  // the other flags kept

	std::string no_pe = small_pe();
	no_pe[0x80] = 'X';
	const struct {
		std::string name, bytes;
		int         result;
	} cases[] = {{"notmz", "XX" + std::string(100, '\0'), 20013},
	             {"nope", no_pe, 20014},
	             {"short", "MZ", 5},
	             {"cut", small_pe().substr(0, 0x80 + 10), 5}};
	for (const auto& c : cases) {
		write_file(dir / c.name, c.bytes);
		EXPECT_EQ(make_file_large_address_aware(dir / c.name), c.result) << c.name;
		EXPECT_EQ(read_file(dir / c.name), c.bytes) << c.name << " was changed";
	}
	EXPECT_EQ(make_file_large_address_aware(dir / "missing.exe"), ENOENT);
}

TEST(FileUtils, BundlesAreSystemLibraries)
{
	void* gl = nullptr;
	ASSERT_EQ(load_bundle_by_filename("OpenGL.framework", 1, &gl), 0);
	EXPECT_NE(plat_bundle_function(gl, "glGetString"), nullptr);
	EXPECT_EQ(plat_bundle_function(gl, "no_such_function"), nullptr);
	plat_bundle_release(gl);

	EXPECT_EQ(load_bundle_by_filename("OpenGL.framework", 0), 0);
	EXPECT_EQ(load_bundle_by_filename(nullptr, 0), -50);
	EXPECT_EQ(load_bundle_by_filename("NoSuchKit.framework", 0), -43);
	EXPECT_EQ(load_bundle_by_filename("not a bundle", 0), -43);
	// The C library's development "libc.so" is a linker script: found, but no code.
	EXPECT_EQ(load_bundle_by_filename("c.framework", 0), -37);
}

static std::string launch_record()
{
	return std::string(getenv("TMPDIR")) + "/launched.txt";
}

static void launch_and_quit(const std::string& program)
{
	const std::string tmp = getenv("TMPDIR");
	xer.open(tmp + "/launch_Log.txt");
	launch_app(program, tmp + "/dest folder");
}

TEST(FileUtilsDeathTest, LaunchStartsTheProgramAndQuits)
{
	const std::string tmp = getenv("TMPDIR");
	const std::string app = tmp + "/Tool.app";
	ASSERT_EQ(zuz_test::run("mkdir -p '" + app + "/Contents/MacOS'"), 0);
	write_file(app + "/Contents/MacOS/Tool", "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > '" + launch_record() + ".tmp'\n"
	                                         "mv '" + launch_record() + ".tmp' '" + launch_record() + "'\n");
	make_file_executable((app + "/Contents/MacOS/Tool").c_str());
	unlink(launch_record().c_str());

	EXPECT_EXIT(launch_and_quit(app + "/"), testing::ExitedWithCode(1), "");
	// The program runs detached; wait for its record, bounded only against a hang.
	for (int i = 0; i < 6000 && access(launch_record().c_str(), F_OK) != 0; ++i) usleep(10000);
	EXPECT_EQ(read_file(launch_record()),
	          app + "/Contents/MacOS/Tool\n-path\n" + tmp + "/dest folder\n");
	EXPECT_EQ(read_file(tmp + "/launch_Log.txt"),
	          "Launching: " + app + "/Contents/MacOS/Tool with " + tmp + "/dest folder\n");

	// A program that cannot be started is reported, and this one goes on.
	zuz_test::LogCapture log;
	EXPECT_EQ(launch_app(tmp + "/no-such-program", ""), ENOENT);
	write_file(tmp + "/not-executable", "text");
	EXPECT_EQ(launch_app(tmp + "/not-executable", "x"), EACCES);
}
