#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "GenC/hl_globals.h"
#include "Installer-f/inst_services.h"
#include "OOPS_cpp/http.h"
#include "OOPS_cpp/pref.h"
#include "UTL/UTL_cmdline.h"
#include "zuz_test.h"

using zuz_test::read_file;
using zuz_test::write_file;
using namespace std::string_literals;

// Each test has a preferences folder of its own, and the settings and the
// command line are put back afterwards.
class Pref : public testing::Test {
protected:
	void SetUp() override
	{
		file = config / "Nimbara Installer.prf";
		ASSERT_EQ(pref_path(11), file);
		set(7, "unchanged");
	}
	void TearDown() override
	{
		cmdline = UTL_cmdline();
		stg = stg_class();
		dest_dir_path.clear();
		http = http_class();
	}
	void set(int n, const std::string& text)
	{
		stg = {n, n, n, n, n};
		dest_dir_path = http.proxy_host = http.proxy_port_text = text;
		http.proxy_port = n;
	}
	void options(std::vector<const char*> args)
	{
		zuz_test::LogCapture log;
		args.insert(args.begin(), "nimbara_installer");
		cmdline.init_unix((int)args.size(), args.data());
	}

	zuz_test::TempDir config;
	zuz_test::EnvVar  xdg{"XDG_CONFIG_HOME", config.path().c_str()};
	std::string       file;
};

TEST_F(Pref, InstallerFileIsWrittenByteForByteAndReadsBack)
{
	stg = {1, 0, 4, 1, -1};
	dest_dir_path = "/home/u/Nimbara 9: beta/";
	http.proxy_host = "proxy.lan";
	http.proxy_port_text = "3128 ";
	http.proxy_port = 3128;
	pref.IO_set(11, 1);
	EXPECT_EQ(read_file(file), read_file(ZUZ_SOURCE_DIR "/tests/OOPS_cpp/data/installer.prf"));
	struct stat st;
	EXPECT_NE(lstat((file + ".tmp").c_str(), &st), 0) << "the draft is left beside the file";

	set(7, "x");
	pref.IO_set(11, 0);
	EXPECT_EQ(stg._use_max_cpu, 1);
	EXPECT_EQ(stg._rename_folder, 0);
	EXPECT_EQ(stg._stream_count, 4);
	EXPECT_EQ(stg._log_actions, 1);
	EXPECT_EQ(stg._always_ask_dir, -1);
	EXPECT_EQ(dest_dir_path, "/home/u/Nimbara 9: beta/");
	EXPECT_EQ(http.proxy_host, "proxy.lan");
	EXPECT_EQ(http.proxy_port_text, "3128 ");
	EXPECT_EQ(http.proxy_port, 3128);

	// Empty texts are left out; integers never are.
	stg = {};
	dest_dir_path = http.proxy_host = http.proxy_port_text = "";
	pref.IO_set(11, 1);
	EXPECT_EQ(read_file(file),
	          "I\n9002 version\n_use_max_cpu 0\n_rename_folder 0\n_stream_count 0\n_log_actions 0\n"
	          "_always_ask_dir 0\n_proxy_port_int 3128\n");
}

TEST_F(Pref, Reader)
{
	const std::string head = "I\n9002 version\n";
	const struct {
		const char* name;
		std::string bytes;  // "-" : no file
		int         count;  // _stream_count afterwards (7: unchanged)
		const char* dest;   // _dest_dir_path afterwards
	} cases[] = {
		{"as written", head + "_stream_count 2\n_dest_dir_path /a b/\n", 2, "/a b/"},
		{"CR LF", "I\r\n9002 version\r\n_stream_count 2\r\n_dest_dir_path /a/\r\n", 2, "/a/"},
		{"CR only", "I\r9002 version\r_stream_count 2\r_dest_dir_path /a/\r", 2, "/a/"},
		{"NUL ends a line", head + "_stream_count 2\0_dest_dir_path /a/"s, 2, "/a/"},
		{"tabs and blank lines", head + "\n\n\t_stream_count\t \t2\n\n \n_dest_dir_path\t/a/", 2, "/a/"},
		{"repeated key", head + "_stream_count 1\n_stream_count 3\n", 3, "unchanged"},
		{"trailing blanks kept", head + "_dest_dir_path   /a b/  \n", 7, "/a b/  "},
		{"2x", head + "_stream_count 2x\n", 2, "unchanged"},
		{"x", head + "_stream_count x\n", 0, "unchanged"},
		{"key alone", head + "_stream_count\n_dest_dir_path\n", 0, ""},
		{"negative", head + "_stream_count -3\n", -3, "unchanged"},
		{"beyond int", head + "_stream_count 99999999999999999999\n", INT_MAX, "unchanged"},
		{"below int", head + "_stream_count -99999999999\n", INT_MIN, "unchanged"},
		{"case matters", head + "_Stream_count 2\n_other 1\n", 7, "unchanged"},
		{"header A", "A\n9002 version\n_stream_count 2\n", 2, "unchanged"},
		{"version 9001", "I\n9001 version\n_stream_count 2\n", 7, "unchanged"},
		{"other letter", "B\n9002 version\n_stream_count 2\n", 7, "unchanged"},
		{"binary header", "i\x2a\x23\0\0\n_stream_count 2\n"s, 7, "unchanged"},
		{"header only", head, 7, "unchanged"},
		{"empty file", "", 7, "unchanged"},
		{"no file", "-", 7, "unchanged"},
	};
	for (const auto& c : cases) {
		SCOPED_TRACE(c.name);
		unlink(file.c_str());
		if (c.bytes != "-") write_file(file, c.bytes);
		set(7, "unchanged");
		pref.IO_set(11, 0);
		EXPECT_EQ(stg._stream_count, c.count);
		EXPECT_EQ(dest_dir_path, c.dest);
		EXPECT_EQ(stg._log_actions, 7);
	}
}

TEST_F(Pref, CommandLineOverridesWinAndAreSaved)
{
	options({"--pref:_stream_count=3", "--pref:_log_actions", "--pref:_dest_dir_path=", "--pref:_proxy_host=p.lan"});
	for (bool with_file : {false, true}) {
		SCOPED_TRACE(with_file ? "with a file" : "without a file");
		unlink(file.c_str());
		if (with_file)
			write_file(file, "I\n9002 version\n_stream_count 1\n_log_actions 1\n_dest_dir_path /a/\n_rename_folder 2\n");
		set(7, "unchanged");
		pref.IO_set(11, 0);
		EXPECT_EQ(stg._stream_count, 3);
		EXPECT_EQ(stg._log_actions, 0);
		EXPECT_EQ(dest_dir_path, "");
		EXPECT_EQ(http.proxy_host, "p.lan");
		EXPECT_EQ(stg._rename_folder, with_file ? 2 : 7);
	}
	pref.IO_set(11, 1);
	EXPECT_EQ(read_file(file),
	          "I\n9002 version\n_use_max_cpu 7\n_rename_folder 2\n_stream_count 3\n_log_actions 0\n"
	          "_always_ask_dir 7\n_proxy_host p.lan\n_proxy_port unchanged\n_proxy_port_int 7\n");
}

// A save that fails part-way leaves the old file as it was, and nothing beside it.
TEST_F(Pref, FailedSaveKeepsTheOldFile)
{
	const std::string old = "I\n9002 version\n_stream_count 2\n";
	write_file(file, old);
	ASSERT_EQ(symlink("/dev/full", (file + ".tmp").c_str()), 0);
	pref.IO_set(11, 1);
	EXPECT_EQ(read_file(file), old);
	struct stat st;
	EXPECT_NE(lstat((file + ".tmp").c_str(), &st), 0);
}
