#include <gtest/gtest.h>
#include <unistd.h>

#include "Files/io_utils.h"
#include "GenC/hl_globals.h"
#include "OOPS_cpp/xmap.h"
#include "zuz_test.h"

using zuz_test::read_file;

TEST(OufOpen, TextAndBinaryHeaders)
{
	zuz_test::TempDir dir;
	ASSERT_EQ(ouf_open(dir / "prefs.PRF", io_type_text, 9002, "no-copyright-string"), 1);
	ouf << "_stream_count 2\n";
	ouf.close();
	EXPECT_EQ(read_file(dir / "prefs.prf"), "I\n9002 version\n_stream_count 2\n");
	EXPECT_NE(access((dir / "prefs.PRF").c_str(), F_OK), 0);
	// Four bytes in all are enough to have their last three lowered.
	{
		zuz_test::InFolder here(dir.path());
		EXPECT_EQ(ouf_open("A.TX", io_type_text, 1, "no-copyright-string"), 1);
		ouf.close();
	}
	EXPECT_EQ(read_file(dir / "A.tx"), "I\n1 version\n");

	ASSERT_EQ(ouf_open(dir / "notice.txt", io_type_text, -7, " (c) notice"), 1);
	ouf.close();
	EXPECT_EQ(read_file(dir / "notice.txt"), "I\n-7 version (c) notice\n");

	ASSERT_EQ(ouf_open(dir / "list.bin", io_type_binary, 900 | 5 << 24, "no-copyright-string"), 1);
	ouf.close();
	EXPECT_EQ(read_file(dir / "list.bin"), std::string("i\x84\x03\x00\x05", 5));

	// What the writer writes, the reader accepts.
	const int versions[] = {9002, 0};
	xmap_class in(dir / "prefs.prf");
	EXPECT_EQ(in.check_file(io_type_text, versions, "_stream_count", nullptr), 9002);
}

TEST(OufOpen, MissingFolderIsCreatedOneLevelDeep)
{
	zuz_test::TempDir dir;
	zuz_test::AlertRecorder rec;
	zuz_test::LogCapture log;
	ASSERT_EQ(ouf_open(dir / "new/file.txt", io_type_text, 1, "no-copyright-string"), 1);
	ouf.close();
	EXPECT_EQ(read_file(dir / "new/file.txt"), "I\n1 version\n");
	EXPECT_TRUE(rec.alerts.empty());

	EXPECT_EQ(ouf_open(dir / "two/levels/file.txt", io_type_text, 1, "no-copyright-string"), 0);
	ASSERT_EQ(rec.alerts.size(), 1u);
	EXPECT_EQ(rec.alerts[0].type, t_alert);
	EXPECT_EQ(rec.alerts[0].line, 1090);
	EXPECT_EQ(rec.alerts[0].msg2, dir / "two/levels/file.txt");
	EXPECT_FALSE(ouf.is_open());
	EXPECT_TRUE(ouf.fail());
	ouf.clear();
}

TEST(OufOpenDeathTest, BadTypeIsFatal)
{
	EXPECT_EXIT(ouf_open("x.txt", 3, 1, "no-copyright-string"), testing::ExitedWithCode(1),
	            "io_utils, line 1036\\)\nBad ouf_open type!\nx.txt");
}
