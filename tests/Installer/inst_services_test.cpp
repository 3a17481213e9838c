#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>

#include "Installer-f/inst_services.h"
#include "OOPS_cpp/pref.h"
#include "zuz_test.h"

TEST(GetOSAbsPath, PreferencesFolder)
{
	zuz_test::TempDir t;
	const std::string home = t / "home/", old_config = getenv("XDG_CONFIG_HOME"), old_home = getenv("HOME");
	zuz_test::write_file(t / "file", "");
	setenv("HOME", home.c_str(), 1);
	const struct {
		std::string xdg;
		int         err;
		std::string path;  // "" : left as it was
	} cases[] = {
		{t / "a/b//", 0, t / "a/b/"},  // made, parents too
		{t / "x:y\\z", 0, t / "x:y\\z/"},  // both legal in a folder name
		{"", 0, home + ".config/"},
		{"rel/cfg", 0, home + ".config/"},
		{t / "file/sub", ENOTDIR, ""},
	};
	for (const auto& c : cases) {
		SCOPED_TRACE("XDG_CONFIG_HOME=" + c.xdg);
		setenv("XDG_CONFIG_HOME", c.xdg.c_str(), 1);
		std::string path = "as it was";
		EXPECT_EQ(get_OS_abs_path(4, path), c.err);
		EXPECT_EQ(path, c.err ? "as it was" : c.path);
		struct stat st;
		EXPECT_TRUE(c.err || (stat(c.path.c_str(), &st) == 0 && (st.st_mode & 07777) == 0700)) << "made 0700";
	}
	// The mapped-file reader refuses such a folder: the file then lives beside
	// the framework's other preference files.
	for (const char* odd : {"x:y", "x\\y"}) {
		setenv("XDG_CONFIG_HOME", (t / odd).c_str(), 1);
		EXPECT_EQ(pref_path(11), "Resources/preferences/Nimbara Installer.prf") << odd;
	}
	// Nothing else makes that folder (in the working folder): saving does, parent too.
	{
		zuz_test::AlertRecorder rec;
		pref.IO_set(11, 1);
		EXPECT_EQ(rec.alerts.size(), 0u);
	}
	EXPECT_EQ(zuz_test::read_file("Resources/preferences/Nimbara Installer.prf"),
	          "I\n9002 version\n_use_max_cpu 0\n_rename_folder 0\n_stream_count 0\n_log_actions 0\n"
	          "_always_ask_dir 0\n_proxy_port_int 0\n");

	setenv("XDG_CONFIG_HOME", old_config.c_str(), 1);
	setenv("HOME", old_home.c_str(), 1);
}
