#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "GenC/cmnd.h"
#include "UTL/UTL_cmdline.h"
#include "zuz_test.h"

static std::string parse(UTL_cmdline& c, std::vector<const char*> args)
{
	zuz_test::LogCapture log;
	args.insert(args.begin(), "nimbara");
	EXPECT_EQ(c.init_unix((int)args.size(), args.data()), 0);
	return log.text();
}

TEST(Cmdline, SplitsAtTheFirstEqualsSignAndEchoesToTheLog)
{
	UTL_cmdline c;
	std::string log = parse(c, {"--no_vbos", "--fps_test=3", "--a=b=c", "--pref:_stream_count=2", "-path",
	                            "/home/u/Nimbara 9", "--empty=", "=x", ""});
	EXPECT_EQ(log,
	          "     '--no_vbos'\n"
	          "     '--fps_test'='3'\n"
	          "     '--a'='b=c'\n"
	          "     '--pref:_stream_count'='2'\n"
	          "     '-path'\n"
	          "     '/home/u/Nimbara 9'\n"
	          "     '--empty'\n"
	          "     ''='x'\n"
	          "WARNING: command line option =included twice.\n"
	          "     ''\n");
	EXPECT_EQ(c.get_option("--a"), "b=c");
	EXPECT_TRUE(c.has_option("-path"));
	EXPECT_TRUE(c.has_option("--empty"));
	EXPECT_EQ(c.get_option(""), "");
	EXPECT_FALSE(c.has_option("--NO_VBOS"));
	EXPECT_FALSE(c.has_option("no_vbos"));
	// Asking for a missing key does not create it.
	EXPECT_EQ(c.get_option("--missing"), "");
	EXPECT_FALSE(c.has_option("--missing"));
	// The argument after an option, whole.
	EXPECT_EQ(c.get_next_arg("-path"), "/home/u/Nimbara 9");
	EXPECT_EQ(c.get_next_arg("--a"), "");  // "--a=b=c" is not "--a"
	EXPECT_EQ(c.get_next_arg("--missing"), "");
}

TEST(Cmdline, LastRepeatWinsWithAWarningAndNoArgumentsLogNothing)
{
	UTL_cmdline repeated, none;
	EXPECT_EQ(parse(repeated, {"--fps_test=3", "--fps_test=5"}),
	          "     '--fps_test'='3'\n"
	          "WARNING: command line option --fps_test=5included twice.\n"
	          "     '--fps_test'='5'\n");
	EXPECT_EQ(repeated.get_option("--fps_test"), "5");
	EXPECT_EQ(parse(none, {}), "");
	EXPECT_FALSE(none.has_option(""));
}

TEST(Cmdline, SingleLineFormSkipsEmptyKeys)
{
	UTL_cmdline c;
	zuz_test::LogCapture log;
	EXPECT_EQ(c.init_win("  --a=1   --b\t =x\t--c=two words"), 0);
	EXPECT_EQ(c.get_option("--a"), "1");
	EXPECT_TRUE(c.has_option("--b"));
	EXPECT_EQ(c.get_option("--b"), "");
	EXPECT_FALSE(c.has_option(""));
	EXPECT_EQ(c.get_option("--c"), "two");
	EXPECT_TRUE(c.has_option("words"));
	EXPECT_EQ(c.get_next_arg("--b"), "--c=two");
	EXPECT_EQ(c.get_next_arg("words"), "");  // it came last
	EXPECT_EQ(log.text(), "     '--a'='1'\n     '--b'\n     '--c'='two'\n     'words'\n");
}

// "--cmnds" prints to standard output and exits 0, even beside "-h"; the child
// sends its output to a file that the parent reads.
static void list_commands(const std::string& out_path, const char* option)
{
	cmnd.add_cmnd("view/zoom/in", "Zoom in");
	cmnd.add_cmnd("view/pan", "Pan");
	cmnd.add_cmnd("quit", "Quit");
	if (!freopen(out_path.c_str(), "w", stdout)) return;
	const char* argv[] = {"nimbara", "-h", option};
	UTL_cmdline c;
	c.init_unix(3, argv);
}

TEST(CmdlineDeathTest, CommandListingWinsOverHelp)
{
	auto row = [](std::string path, const char* description) {
		path.resize(50, ' ');
		return path + " " + description + "\n";
	};
	struct { const char* option; std::string want; } cases[] = {
		{"--cmnds=all", row("view/zoom/in", "Zoom in") + row("view/pan", "Pan") + row("quit", "Quit")},
		{"--cmnds", "quit\nview/\n"},
		{"--cmnds=view/", "pan\nzoom/\n"},
		{"--cmnds=nothing/", ""},
	};
	const std::string out_path = std::string(getenv("TMPDIR")) + "/cmnds_out.txt";
	for (auto& c : cases) {
		EXPECT_EXIT(list_commands(out_path, c.option), testing::ExitedWithCode(0), "") << c.option;
		EXPECT_EQ(zuz_test::read_file(out_path), c.want) << c.option;
	}
}
