#include <gtest/gtest.h>
#include <stdlib.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

// Makes `file` the first of `count` symbolic links in a row: it, then l1, l2 ...
// beside it, the last leading to "kept.prf".
static void link_chain(const std::string& file, int count)
{
	const std::string folder = file.substr(0, file.rfind('/') + 1);
	for (int n = 1; n <= count; ++n) {
		const std::string to = n == count ? "kept.prf" : "l" + std::to_string(n);
		ASSERT_EQ(symlink(to.c_str(), (n == 1 ? file : folder + "l" + std::to_string(n - 1)).c_str()), 0);
	}
}

// Saved through as many symbolic links as the system follows, the file they
// lead to is replaced and the links stay.
TEST_F(Pref, InstallerFileIsWrittenByteForByteAndReadsBack)
{
	const std::string expected = read_file(ZUZ_SOURCE_DIR "/tests/OOPS_cpp/data/installer.prf");
	link_chain(file, 40);
	stg = {1, 0, 4, 1, -1};
	dest_dir_path = "/home/u/Nimbara 9: beta/";
	http.proxy_host = "proxy.lan";
	http.proxy_port_text = "3128 ";
	http.proxy_port = 3128;
	pref.IO_set(11, 1);
	EXPECT_EQ(read_file(config / "kept.prf"), expected);
	char link[64] = {};
	EXPECT_EQ(readlink((config / "l39").c_str(), link, sizeof(link) - 1), 8) << "the link was replaced";

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
		{"decimal only", head + "_stream_count 010\n", 10, "-"},
		{"x", head + "_stream_count x\n", 0, "-"},
		{"key alone", head + "_stream_count\n_dest_dir_path\n", 0, ""},
		{"beyond int", head + "_stream_count 99999999999999999999\n", INT_MAX, "-"},
		{"below int", head + "_stream_count -99999999999999999999\n", INT_MIN, "-"},
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
		int found = 7;
		EXPECT_EQ(scan_class(file, 0).int_io(&found, "_stream_count"), c.count != 7);
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

// A save that cannot land keeps the old file, leaves nothing beside it, and
// says why as a file that cannot be created is reported. Saved in a child, where
// a file-size limit makes the draft's write fail as a full disk would.
static std::string save_in_child(rlim_t size_limit)
{
	int out[2];
	if (pipe(out) != 0) return "no pipe";
	const pid_t pid = fork();
	if (pid == 0) {
		close(out[0]);
		const rlimit limit = {size_limit, RLIM_INFINITY};
		signal(SIGXFSZ, SIG_IGN);
		if (size_limit != RLIM_INFINITY && setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(1);
		std::string said;
		{
			zuz_test::AlertRecorder rec;
			pref.IO_set(11, 1);
			for (const auto& a : rec.alerts)
				said += a.file + " " + std::to_string(a.line) + " " + std::to_string(a.type) + "\n" + a.msg1 + "\n" +
				        a.msg2 + "\n" + a.msg3 + "\n" + a.msg4 + "\n";
		}
		_exit(write(out[1], said.data(), said.size()) == (ssize_t)said.size() ? 0 : 1);
	}
	close(out[1]);
	std::string said;
	char buf[4096];
	for (ssize_t n; (n = read(out[0], buf, sizeof(buf))) > 0;) said.append(buf, (size_t)n);
	close(out[0]);
	int status = 0;
	waitpid(pid, &status, 0);
	return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? said : "the child failed";
}

TEST_F(Pref, FailedSaveKeepsTheOldFileAndSaysWhy)
{
	const std::string draft = file + ".tmp";
	const struct {
		const char* name;
		rlim_t      size_limit;  // of every file the child writes
		std::string folder;      // made in the place of the file or the draft
		std::string said;        // the second line of the warning
		int         links = 0;   // the file is a chain of links to "kept.prf"
	} cases[] = {
		{"the draft cannot be written", 20, "", file + ": File too large"},
		{"the draft cannot be renamed", RLIM_INFINITY, file, file + ": Is a directory"},
		{"the draft cannot be created", RLIM_INFINITY, draft, draft},  // told once, by ouf_open
		{"one link more than the system follows", RLIM_INFINITY, "", file + ": Too many levels of symbolic links", 41},
	};
	const std::string old = "I\n9002 version\n_stream_count 2\n";
	for (const auto& c : cases) {
		SCOPED_TRACE(c.name);
		unlink(file.c_str());
		if (!c.folder.empty()) {
			ASSERT_EQ(mkdir(c.folder.c_str(), 0700), 0);
		}
		const std::string kept = c.links ? config / "kept.prf" : file;
		if (c.links) link_chain(file, c.links);
		if (c.folder != file) write_file(kept, old);
		EXPECT_EQ(save_in_child(c.size_limit),
		          "ZUzuvir/Files/io_utils 1090 1\nI could not save the file! Could the directory that the file sits "
		          "in be missing? Or flagged as READ-ONLY by the operating system? (Windows machines typically do "
		          "this).\n" + c.said + "\nCould the file be flagged as read-only? This happens in Windows if you "
		          "copy it from a CD!\nTry putting this app in the background and then flag the file as NOT "
		          "read-only, or creating the folder listed in the path above.\n");
		struct stat st;
		EXPECT_EQ(c.folder == file ? stat(file.c_str(), &st) == 0 && S_ISDIR(st.st_mode) : read_file(kept) == old,
		          true);
		char link[64];
		EXPECT_TRUE(!c.links || readlink((config / "l40").c_str(), link, sizeof(link)) == 8) << "a link was replaced";
		EXPECT_EQ(lstat(draft.c_str(), &st) == 0, c.folder == draft) << "the draft is left";
		rmdir(c.folder.c_str());
	}
}

// The display settings: a requested size outside 600 to 9,999 becomes 1024 by
// 768; a file without sizes gives the ones last read.
TEST_F(Pref, DisplaySettingsKeepTheSizeWithinItsBounds)
{
	ASSERT_EQ(zuz_test::run("mkdir -p Resources/preferences"), 0);
	const std::string head = "I\n9002 version\n";
	const struct {
		const char* sizes;
		int         dx, dy;
	} cases[] = {
		{"", 1024, 768},  // the first read: the sizes start at 0
		{"_x_res_req_ALL 600\n_y_res_req_ALL 600\n", 600, 600},
		{"", 600, 600},
		{"_x_res_req_ALL 599\n_y_res_req_ALL 599\n", 1024, 768},
		{"_x_res_req_ALL 9999\n_y_res_req_ALL 9999\n", 9999, 9999},
		{"_x_res_req_ALL 10000\n_y_res_req_ALL 700\n", 1024, 700},
		{"_x_res_req_ALL 800\n_y_res_req_ALL 10000\n", 800, 768},
	};
	for (const auto& c : cases) {
		SCOPED_TRACE(c.sizes);
		write_file(pref_path(10), head + c.sizes + "_lang 2\n");
		mnw.x_res_req = mnw.y_res_req = 1;
		pref.IO_set(10, 0);
		EXPECT_EQ(mnw.x_res_req, c.dx);
		EXPECT_EQ(mnw.y_res_req, c.dy);
		EXPECT_EQ(mnw._lang, 2);
	}
	mnw.x_res_req = 1280;
	mnw.y_res_req = 600;
	mnw._prefs_found = 0;
	pref.IO_set(10, 1);
	EXPECT_EQ(read_file(pref_path(10)),
	          head + "_x_res_req_PLN 0\n_y_res_req_PLN 0\n_x_res_req_WRL 0\n_y_res_req_WRL 0\n_x_res_req_ALL 1280\n"
	                 "_y_res_req_ALL 600\n_col_res_req 32\n_set_res 0\n_lang 2\n_alias_req 0\n_keylist_up 1\n"
	                 "_sec_mon_inuse 0\n_prefs_found 1\n");
}
