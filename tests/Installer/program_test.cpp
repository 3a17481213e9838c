// The real executable, run from the shell in a folder of its own (it writes
// Log.txt beside itself), with its home and preferences folders in it too.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "zuz_net.h"
#include "zuz_test.h"

class Program : public testing::Test {
protected:
	void SetUp() override
	{
		exe = dir / "nimbara_installer";
		ASSERT_EQ(zuz_test::run("cp '" ZUZ_INSTALLER_EXE "' '" + exe + "'"), 0);
	}
	int run(const std::string& args, std::string* out = nullptr)
	{
		return zuz_test::run("NIMBARA_MAX_FRAMES=3 HOME='" + dir.path() + "' XDG_CONFIG_HOME='" + dir.path() + "config' '" + exe + "' " +
		                         args + " </dev/null 2>&1",
		                     out);
	}
	std::string log() { return zuz_test::read_file(dir / "Log.txt"); }

	zuz_test::TempDir dir;
	std::string exe;
};

// The usage text and the command listing both exit at once; the listing wins.
TEST_F(Program, HelpPrintsTheUsageAndExits)
{
	const std::string usage = zuz_test::read_file(ZUZ_SOURCE_DIR "/tests/Installer/data/usage.txt");
	for (const char* args : {"-h", "--help", "-h --cmnds=all"}) {
		std::string out;
		EXPECT_EQ(run(args, &out), 0) << args;
		if (std::string(args).find("--cmnds") == std::string::npos)
			EXPECT_EQ(out, usage) << args;
		else
			EXPECT_EQ(out.find("Usage:"), std::string::npos) << args << "\n" << out;
	}
}

TEST_F(Program, LogHasTheHeaderAndTheOptions)
{
	EXPECT_EQ(run("--no_dds --fps_test=3 --fps_test=5"), 0);
	std::string text = log();
	EXPECT_EQ(text.rfind("log.txt for Nimbara 9.00 Beta-25", 0), 0u) << text;
	EXPECT_NE(text.find("\n\n     '--no_dds'\n     '--fps_test'='3'\n"
	                    "WARNING: command line option --fps_test=5included twice.\n"
	                    "     '--fps_test'='5'\n"),
	          std::string::npos)
		<< text;

	// Each run starts the log afresh.
	EXPECT_EQ(run(""), 0);
	EXPECT_EQ(log().find("--fps_test"), std::string::npos);
}

// Starts the program in `dir` with one argument, its output going nowhere. With
// max_frames it ends after that many frames; without, it runs until something ends it.
static pid_t start_program(const std::string& dir, const std::string& exe, const std::string& arg,
                           const char* max_frames, bool headless)
{
	pid_t pid = fork();
	if (pid == 0) {
		if (chdir(dir.c_str()) != 0) _exit(127);
		setenv("HOME", dir.c_str(), 1);
		setenv("XDG_CONFIG_HOME", (dir + "config").c_str(), 1);
		if (max_frames)
			setenv("NIMBARA_MAX_FRAMES", max_frames, 1);
		else
			unsetenv("NIMBARA_MAX_FRAMES");
		if (headless) setenv("DISPLAY", "", 1);
		signal(SIGHUP, SIG_DFL);  // as at a terminal, also when the suite runs under nohup
		int null = open("/dev/null", O_RDWR);
		for (int fd = 0; fd < 3; ++fd) dup2(null, fd);
		execl(exe.c_str(), exe.c_str(), arg.c_str(), (char*)nullptr);
		_exit(127);
	}
	return pid;
}

int run_until_signal(const std::string& dir, const std::string& exe, const std::string& arg, int sig)
{
	const pid_t pid = start_program(dir, exe, arg, nullptr, false);
	// Its frames begin once the settings are logged. One that never gets there
	// fails as such, not as a program that ignored the signal.
	auto started = [&] { return zuz_test::read_file(dir + "Log.txt").find("\nSettings") != std::string::npos; };
	if (!zuz_test::within(120, started)) {
		ADD_FAILURE() << "the program logged no settings";
		sig = SIGKILL;
	}
	kill(pid, sig);
	int status = 0;
	waitpid(pid, &status, 0);
	return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(Program, EndsCleanlyAfterItsFramesOrOnASignal)
{
	const struct {
		const char* name;
		int         sig;  // 0: the frame bound of the environment ends it
	} cases[] = {{"frame bound", 0}, {"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"SIGHUP", SIGHUP}};
	int count = 0;
	for (const auto& c : cases) {
		SCOPED_TRACE(c.name);
		unlink((dir / "Log.txt").c_str());
		const std::string arg = "--pref:_stream_count=" + std::to_string(++count);
		EXPECT_EQ(c.sig ? run_until_signal(dir.path(), exe, arg, c.sig) : run(arg), 0);
		const std::string text = log();
		EXPECT_NE(text.find("\nOpenGL window    : "), std::string::npos) << text;
		const std::string clean = "\nClean exit from threads.\n";
		EXPECT_TRUE(text.size() >= clean.size() && text.compare(text.size() - clean.size(), clean.size(), clean) == 0)
			<< text;
		EXPECT_NE(zuz_test::read_file(dir / "config/Nimbara Installer.prf").find("\n_stream_count " +
		                                                                        std::to_string(count) + "\n"),
		          std::string::npos);
	}
}

TEST_F(Program, SavesItsPreferencesAndReadsThemAtTheNextStart)
{
	EXPECT_EQ(run("--pref:_log_actions=1"), 0);
	EXPECT_NE(log().find("Destination folder: " + dir.path() + "Nimbara 9/\n"), std::string::npos) << log();
	EXPECT_EQ(zuz_test::read_file(dir / "config/Nimbara Installer.prf"),
	          "I\n9002 version\n_use_max_cpu 0\n_rename_folder 1\n_stream_count 0\n_log_actions 1\n"
	          "_always_ask_dir 0\n_dest_dir_path " + dir.path() + "Nimbara 9/\n_proxy_port_int 0\n");
	EXPECT_EQ(run("--fps_test --pref:_log_actions=0"), 0);  // saves nothing
	EXPECT_EQ(run(""), 0);
	EXPECT_NE(log().find("\nSettings         : _use_max_cpu 0, _rename_folder 1, _stream_count 0, _log_actions 1, "
	                     "_always_ask_dir 0\n"),
	          std::string::npos)
		<< log();

	// "-path", wherever it stands, gives the destination; with it no folder is asked for.
	EXPECT_EQ(run("--pref:_always_ask_dir=1 -path /opt/n9"), 0);
	EXPECT_NE(log().find("Destination folder: /opt/n9/\n"), std::string::npos) << log();
	EXPECT_EQ(log().find("would be asked"), std::string::npos) << log();
	EXPECT_EQ(run(""), 0);
	EXPECT_NE(log().find("would be asked for here (no folder dialog yet); keeping /opt/n9/\n"), std::string::npos);

	// A line break would begin another setting in the file: refused where it is given.
	EXPECT_EQ(run("-path \"$(printf '/srv/n9\\n_use_max_cpu 1')\" "
	              "--pref:_proxy_host=\"$(printf 'h\\r_stream_count 7')\""),
	          0);
	EXPECT_NE(log().find("\nThe option -path is ignored: its value holds a line break, which would begin another "
	                     "setting in the preferences file.\n"),
	          std::string::npos);
	EXPECT_EQ(zuz_test::read_file(dir / "config/Nimbara Installer.prf"),
	          "I\n9002 version\n_use_max_cpu 0\n_rename_folder 1\n_stream_count 0\n_log_actions 1\n"
	          "_always_ask_dir 1\n_dest_dir_path /opt/n9/\n_proxy_port_int 0\n");
}

// Without a window every frame's drawing is flushed, so the memory stays flat
// however many frames run (unflushed, Mesa kept about 130 KB a frame).
TEST_F(Program, HeadlessMemoryStaysFlat)
{
	// Under AddressSanitizer its quarantine of freed blocks would grow as well.
	const char* asan = getenv("ASAN_OPTIONS");
	setenv("ASAN_OPTIONS", ((asan && *asan ? asan + std::string(":") : "") + "quarantine_size_mb=0").c_str(), 1);
	long peak_kb[2] = {};
	const char* frames[2] = {"100", "400"};
	for (int i = 0; i < 2; ++i) {
		const pid_t pid = start_program(dir.path(), exe, "--pref:_use_max_cpu=1", frames[i], true);
		int status = 0;
		rusage usage = {};
		ASSERT_EQ(wait4(pid, &status, 0, &usage), pid);
		EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << frames[i] << " frames: " << status;
		peak_kb[i] = usage.ru_maxrss;
	}
	EXPECT_LT(peak_kb[1] - peak_kb[0], 12 * 1024) << "KB at 100 frames: " << peak_kb[0] << ", at 400: " << peak_kb[1];
}

TEST_F(Program, RunsOnWithoutALogItCannotWrite)
{
	const struct {
		const char* what;
		const char* make_log;
		const char* reason;
	} cases[] = {
		{"a folder in its place", "mkdir Log.txt", "Is a directory"},
		{"a full disk", "ln -s /dev/full Log.txt", "No space left on device"},
	};
	for (const auto& c : cases) {
		zuz_test::TempDir fresh;
		exe = fresh / "nimbara_installer";
		ASSERT_EQ(zuz_test::run("cp '" ZUZ_INSTALLER_EXE "' '" + exe + "' && cd '" + fresh.path() + "' && " +
		                        c.make_log),
		          0);
		std::string out;
		EXPECT_EQ(run("--fps_test=1", &out), 0) << c.what << "\n" << out;
		const std::string said = "Cannot write Log.txt in " + fresh.path() + ": " + c.reason +
		                         ". Going on without a log.\n";
		EXPECT_NE(out.find(said), std::string::npos) << c.what << "\n" << out;
		EXPECT_EQ(out.find("Log.txt"), out.rfind("Log.txt")) << c.what << ": said more than once\n" << out;
	}
}

TEST_F(Program, FatalAlertLeavesAStackCrawlAndAMemoryReport)
{
	const std::string crawl = dir / "stack_crawl.txt", report = dir / "MemoryLog.txt";
	const std::string label = "This is the dump_mem_stats call from the following code: "
	                          "if(type==t_exit || type == t_alert || recursive_error)";
	zuz_test::write_file(report, "from an older run\n");
	size_t crawled = 0;
	for (const char* args : {"", "", "--fps_test"}) {
		SCOPED_TRACE(args);
		const bool reports = !*args;
		if (!reports) unlink(report.c_str());
		// An X display that cannot exist: opening the window fails, which is fatal.
		std::string out;
		EXPECT_EQ(zuz_test::run("env DISPLAY=/nonexistent:0 '" + exe + "' " + args + " </dev/null 2>&1", &out), 1);
		EXPECT_NE(out.find("FATAL ERROR (ZUzuvir/GenC/MACIBM_context, line 58)"), std::string::npos) << out;

		// Each fatal alert appends a crawl: the alert routine, then the code that raised it.
		const std::string added = zuz_test::read_file(crawl).substr(crawled);
		crawled += added.size();
		EXPECT_EQ(added.rfind("  0) _Z14__MACIBM_alert", 0), 0u) << added;
		EXPECT_NE(added.find("\n  1) _Z19MACIBM_make_contextv + "), std::string::npos) << added;
		EXPECT_NE(added.find(" (MACIBM_context.cpp:"), std::string::npos) << added;

		// Each run's first report replaces the file.
		const std::string mem = zuz_test::read_file(report);
		EXPECT_EQ(mem.rfind("dump_mem_stats: " + label + "\nOS X Info:\n", 0) == 0, reports) << mem.substr(0, 300);
		EXPECT_EQ(mem.find("dump_mem_stats:", 1), std::string::npos);
		EXPECT_EQ(log().find("OK check MemoryLog.txt! I just sent him a dump from " + label +
		                     "\nUnable to create the OpenGL window.\n") != std::string::npos,
		          reports);
	}
	EXPECT_EQ(access(report.c_str(), F_OK), -1);
}
