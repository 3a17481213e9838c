// A scenery tree in a temporary working folder: the library's paths are
// relative to the application folder, which is the working folder.
#ifndef DSF_TEST_H
#define DSF_TEST_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "zuz_test.h"

class SceneryTree : public testing::Test {
protected:
	zuz_test::TempDir       dir;
	zuz_test::LogCapture    log;
	zuz_test::AlertRecorder alerts;
	std::string             cwd = std::filesystem::current_path().string();

	void SetUp() override { ASSERT_EQ(chdir(dir.path().c_str()), 0); }
	void TearDown() override { ASSERT_EQ(chdir(cwd.c_str()), 0); }

	// Writes a file at a path relative to the tree, making its folders.
	static void put(const std::string& path, const std::string& bytes)
	{
		std::filesystem::create_directories(std::filesystem::path(path).parent_path());
		zuz_test::write_file(path, bytes);
	}
};

#endif
