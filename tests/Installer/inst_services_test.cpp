#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "Installer-f/inst_services.h"
#include "OOPS_cpp/pref.h"
#include "zuz_test.h"

using zuz_test::EnvVar;

static mode_t folder_mode(const std::string& path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? st.st_mode & 07777 : 0;
}

TEST(GetOSAbsPath, PreferencesFolder)
{
	zuz_test::TempDir t;
	const std::string home = t / "home/";
	ASSERT_EQ(mkdir(home.c_str(), 0755), 0);
	zuz_test::write_file(t / "file", "");
	EnvVar h("HOME", home.c_str());
	const struct {
		std::string xdg;
		int         err;
		std::string path;  // "" : left as it was
	} cases[] = {
		{t / "a/b", 0, t / "a/b/"},  // made, parents too
		{t / "c//", 0, t / "c/"},
		{t / "x:y\\z", 0, t / "x:y\\z/"},  // both legal in a folder name
		{"", 0, home + ".config/"},
		{"rel/cfg", 0, home + ".config/"},
		{t / "file/sub", ENOTDIR, ""},
	};
	for (const auto& c : cases) {
		SCOPED_TRACE("XDG_CONFIG_HOME=" + c.xdg);
		EnvVar x("XDG_CONFIG_HOME", c.xdg.c_str());
		std::string path = "as it was";
		EXPECT_EQ(get_OS_abs_path(4, path), c.err);
		EXPECT_EQ(path, c.err ? "as it was" : c.path);
		if (!c.err) {
			EXPECT_EQ(folder_mode(c.path), 0700u);
		}
	}

	// The mapped-file reader refuses such a folder; the file then lives beside
	// the framework's other preference files.
	EnvVar x("XDG_CONFIG_HOME", (t / "x:y").c_str());
	EXPECT_EQ(pref_path(11), "Resources/preferences/Nimbara Installer.prf");
}

TEST(GetOSAbsPath, OtherPlaces)
{
	zuz_test::TempDir t;
	EnvVar h("HOME", t.path().c_str());
	EnvVar d("XDG_DESKTOP_DIR", nullptr);
	std::string path;
	EXPECT_EQ(get_OS_abs_path(2, path), 0);
	EXPECT_EQ(path, t.path());
	EXPECT_EQ(get_OS_abs_path(1, path), 0);
	EXPECT_EQ(path, t / "Desktop/");
	{
		EnvVar d2("XDG_DESKTOP_DIR", (t / "desk").c_str());
		EXPECT_EQ(get_OS_abs_path(1, path), 0);
		EXPECT_EQ(path, t / "desk/");
	}

	char exe[4096];
	ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
	ASSERT_GT(n, 0);
	EXPECT_EQ(get_OS_abs_path(0, path), 0);
	EXPECT_EQ(path + "test_Installer", std::string(exe, (size_t)n));

	// The temporary folder is the same one for the whole run, and this user's alone.
	std::string tmp;
	EXPECT_EQ(get_OS_abs_path(3, tmp), 0);
	EXPECT_EQ(tmp.rfind(getenv("TMPDIR"), 0), 0u) << tmp;
	EXPECT_EQ(folder_mode(tmp), 0700u);
	EXPECT_EQ(get_OS_abs_path(3, path), 0);
	EXPECT_EQ(path, tmp);

	path = "kept";
	EXPECT_EQ(get_OS_abs_path(5, path), EINVAL);
	EXPECT_EQ(path, "kept");
}
