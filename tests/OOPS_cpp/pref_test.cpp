#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "Installer-f/inst_services.h"
#include "OOPS_cpp/http.h"
#include "OOPS_cpp/pref.h"
#include "UTL/UTL_cmdline.h"
#include "zuz_test.h"

using zuz_test::read_file;
using zuz_test::write_file;
using namespace std::string_literals;

// Each test has a preferences folder of its own; the settings and the command
// line are put back afterwards.
class Pref : public testing::Test {
protected:
	void SetUp() override
	{
		old_config = getenv("XDG_CONFIG_HOME");
		setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
		ASSERT_EQ(pref_path(11), file);
	}
	void TearDown() override
	{
		setenv("XDG_CONFIG_HOME", old_config.c_str(), 1);
		cmdline = UTL_cmdline();
		set(0, "");
	}
	void set(int n, const std::string& text)
	{
		stg = {n, n, n, n, n};
		dest_dir_path = http.proxy_host = http.proxy_port_text = text;
		http.proxy_port = n;
	}

	zuz_test::TempDir config;
	std::string old_config, file = config / "Nimbara Installer.prf";
};

TEST_F(Pref, InstallerFileIsWrittenByteForByteAndReadsBack)
{
	const std::string expected = read_file(ZUZ_SOURCE_DIR "/tests/OOPS_cpp/data/installer.prf");
	stg = {1, 0, 4, 1, -1};
	dest_dir_path = "/home/u/Nimbara 9: beta/";
	http.proxy_host = "proxy.lan";
	http.proxy_port_text = "3128 ";
	http.proxy_port = 3128;
	pref.IO_set(11, 1);
	EXPECT_EQ(read_file(file), expected);

	// Every value comes back: read into cleared settings, the file is written the same.
	set(0, "");
	pref.IO_set(11, 0);
	pref.IO_set(11, 1);
	EXPECT_EQ(read_file(file), expected);
}

TEST_F(Pref, Reader)
{
	const std::string head = "I\n9002 version\n";
	const struct {
		const char* name;
		std::string bytes;  // "-": no file
		int         count;  // _stream_count afterwards (7: unchanged)
		const char* dest;
	} cases[] = {
		{"as written", head + "_stream_count 2\n_dest_dir_path /a b/\n", 2, "/a b/"},
		{"CR LF", "I\r\n9002 version\r\n_stream_count 2\r\n_dest_dir_path /a/\r\n", 2, "/a/"},
		{"CR only", "I\r9002 version\r_stream_count 2\r_dest_dir_path /a/\r", 2, "/a/"},
		{"tabs, blank lines", head + "\n\n\t_stream_count\t \t2\n\n \n_dest_dir_path\t/a/", 2, "/a/"},
		{"repeated key", head + "_stream_count 1\n_stream_count 3\n", 3, "-"},
		{"trailing blanks kept", head + "_dest_dir_path   /a b/  \n", 7, "/a b/  "},
		{"2x", head + "_stream_count 2x\n", 2, "-"},
		{"x", head + "_stream_count x\n", 0, "-"},
		{"key alone", head + "_stream_count\n_dest_dir_path\n", 0, ""},
		{"beyond int", head + "_stream_count 99999999999999999999\n", INT_MAX, "-"},
		{"case matters, unknown key", head + "_Stream_count 2\n_other 1\n", 7, "-"},
		{"header A", "A\n9002 version\n_stream_count 2\n", 2, "-"},
		{"version 9001", "I\n9001 version\n_stream_count 2\n", 7, "-"},
		{"binary header", "i\x2a\x23\0\0\n_stream_count 2\n"s, 7, "-"},
		{"header only", head, 7, "-"},
		{"empty file", "", 7, "-"},
		{"no file", "-", 7, "-"},
	};
	for (const auto& c : cases) {
		SCOPED_TRACE(c.name);
		unlink(file.c_str());
		if (c.bytes != "-") write_file(file, c.bytes);
		set(7, "-");
		pref.IO_set(11, 0);
		EXPECT_EQ(stg._stream_count, c.count);
		EXPECT_EQ(dest_dir_path, c.dest);
		EXPECT_EQ(stg._log_actions, 7);
	}
}

TEST_F(Pref, CommandLineOverridesWinAndAreSaved)
{
	const char* argv[] = {"nimbara_installer", "--pref:_stream_count=3", "--pref:_log_actions", "--pref:_dest_dir_path="};
	{
		zuz_test::LogCapture log;
		cmdline.init_unix(4, argv);
	}
	for (bool with_file : {false, true}) {
		SCOPED_TRACE(with_file ? "with a file" : "without a file");
		unlink(file.c_str());
		if (with_file) write_file(file, "I\n9002 version\n_stream_count 1\n_log_actions 1\n_dest_dir_path /a/\n_use_max_cpu 2\n");
		set(7, "-");
		pref.IO_set(11, 0);
		EXPECT_EQ(stg._stream_count, 3);
		EXPECT_EQ(stg._log_actions, 0);
		EXPECT_EQ(dest_dir_path, "");
		EXPECT_EQ(stg._use_max_cpu, with_file ? 2 : 7);
	}
	// An empty text leaves its line out; an integer is always written.
	http.proxy_host = http.proxy_port_text = "";
	pref.IO_set(11, 1);
	EXPECT_EQ(read_file(file), "I\n9002 version\n_use_max_cpu 2\n_rename_folder 7\n_stream_count 3\n_log_actions 0\n"
	                           "_always_ask_dir 7\n_proxy_port_int 7\n");
}

// A save that fails on a full disk leaves the old file as it was, and nothing beside it.
TEST_F(Pref, FailedSaveKeepsTheOldFile)
{
	write_file(file, "I\n9002 version\n_stream_count 2\n");
	ASSERT_EQ(symlink("/dev/full", (file + ".tmp").c_str()), 0);
	pref.IO_set(11, 1);
	EXPECT_EQ(read_file(file), "I\n9002 version\n_stream_count 2\n");
	struct stat st;
	EXPECT_NE(lstat((file + ".tmp").c_str(), &st), 0);
}
