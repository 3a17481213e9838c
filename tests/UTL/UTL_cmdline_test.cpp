#include <gtest/gtest.h>

#include <vector>

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
	EXPECT_EQ(c.get_option("--pref:_stream_count"), "2");
	EXPECT_TRUE(c.has_option("-path"));
	EXPECT_TRUE(c.has_option("/home/u/Nimbara 9"));
	EXPECT_TRUE(c.has_option("--empty"));
	EXPECT_EQ(c.get_option(""), "");
	EXPECT_FALSE(c.has_option("--NO_VBOS"));
	EXPECT_FALSE(c.has_option("no_vbos"));
	// Asking for a missing key does not create it.
	EXPECT_EQ(c.get_option("--missing"), "");
	EXPECT_FALSE(c.has_option("--missing"));
}

TEST(Cmdline, LastRepeatWinsWithAWarning)
{
	UTL_cmdline c;
	std::string log = parse(c, {"--fps_test=3", "--fps_test=5"});
	EXPECT_EQ(log,
	          "     '--fps_test'='3'\n"
	          "WARNING: command line option --fps_test=5included twice.\n"
	          "     '--fps_test'='5'\n");
	EXPECT_EQ(c.get_option("--fps_test"), "5");
}

TEST(Cmdline, NoArgumentsLogNothing)
{
	UTL_cmdline c;
	EXPECT_EQ(parse(c, {}), "");
	EXPECT_FALSE(c.has_option(""));
}

TEST(Cmdline, SingleLineFormSkipsEmptyKeys)
{
	UTL_cmdline c;
	zuz_test::LogCapture log;
	EXPECT_EQ(c.init_win("  --a=1   --b  =x\t--c=two words"), 0);
	EXPECT_EQ(c.get_option("--a"), "1");
	EXPECT_TRUE(c.has_option("--b"));
	EXPECT_EQ(c.get_option("--b"), "");
	EXPECT_FALSE(c.has_option(""));
	EXPECT_EQ(c.get_option("--c"), "two");
	EXPECT_TRUE(c.has_option("words"));
	EXPECT_EQ(log.text(), "     '--a'='1'\n     '--b'\n     '--c'='two'\n     'words'\n");
}
