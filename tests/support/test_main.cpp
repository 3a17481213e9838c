// Every test binary gets a folder of its own for TMPDIR, XDG_CONFIG_HOME and its
// working folder, so no test writes to the user's home or config folders.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <string>

int main(int argc, char** argv)
{
	// A death test's child inherits its parent's folders.
	bool death_child = false;
	for (int i = 1; i < argc; ++i)
		if (strncmp(argv[i], "--gtest_internal_run_death_test", 31) == 0) death_child = true;

	testing::InitGoogleTest(&argc, argv);
	// Death tests fork; re-executing keeps them safe next to running threads.
	GTEST_FLAG_SET(death_test_style, "threadsafe");

	if (death_child) {
		// The test framework starts the child in the folder the binary was started
		// in, which every test binary shares; go back to the parent's own.
		const char* own = getenv("TMPDIR");
		if (!own || chdir(own) != 0) return 2;
		return RUN_ALL_TESTS();
	}

	const char* base = getenv("TMPDIR");
	std::string pattern = std::string(base && *base ? base : "/tmp") + "/zuz-test-XXXXXX";
	if (!mkdtemp(pattern.data())) return 2;
	std::string config = pattern + "/config";
	std::filesystem::create_directories(config);
	setenv("TMPDIR", pattern.c_str(), 1);
	// Alerts write their reports into the working folder.
	if (chdir(pattern.c_str()) != 0) return 2;
	setenv("XDG_CONFIG_HOME", config.c_str(), 1);

	int result = RUN_ALL_TESTS();

	std::error_code ec;
	std::filesystem::remove_all(pattern, ec);
	return result;
}
