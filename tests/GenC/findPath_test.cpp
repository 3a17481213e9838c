#include <gtest/gtest.h>

#include "Files/io_utils.h"
#include "GenC/MACIBM_findPath.h"
#include "zuz_test.h"

TEST(FindPath, RepairsLetterCaseComponentByComponent)
{
	zuz_test::TempDir dir;
	make_folder(dir / "Alpha");
	make_folder(dir / "Alpha/beta");
	zuz_test::write_file(dir / "Alpha/beta/Gamma.TXT", "g");
	zuz_test::write_file(dir / "Alpha/README", "upper");
	zuz_test::write_file(dir / "Alpha/readme", "lower");
	zuz_test::write_file(dir / "Alpha/\xc3\x84rger", "umlaut");
	const std::string longest = "Alpha/" + std::string(255, 'L'), longest_lower = "alpha/" + std::string(255, 'l');
	zuz_test::write_file(dir / longest, "a name of 255 bytes");

	const struct {
		const char *given, *repaired;
	} cases[] = {
		{"Alpha/beta/Gamma.TXT", "Alpha/beta/Gamma.TXT"},
		{"alpha/BETA/gamma.txt", "Alpha/beta/Gamma.TXT"},
		{"ALPHA/beta/", "Alpha/beta/"},
		{"alpha/nope/GAMMA.txt", "Alpha/nope/GAMMA.txt"},   // stops at the first miss
		{"alpha/ReadMe", "Alpha/README"},                   // first match in byte order
		{"alpha/readme", "Alpha/readme"},                   // an exact name wins
		{"alpha/read", "Alpha/read"},                       // no longer name matches
		{longest_lower.c_str(), longest.c_str()},
		{"alpha/\xc3\xa4rger", "Alpha/\xc3\xa4rger"},      // only ASCII letters fold
		{"ALPHA//beta//GAMMA.txt", "Alpha//beta//Gamma.TXT"},
	};
	for (const auto& c : cases) {
		char buf[500];
		snprintf(buf, sizeof(buf), "%s%s", dir.path().c_str(), c.given);
		findPath(buf);
		EXPECT_EQ(std::string(buf), dir / c.repaired) << c.given;
	}

	char top[] = "/PROC/self";  // a component right under the root
	findPath(top);
	EXPECT_STREQ(top, "/proc/self");

	// Relative paths are repaired against the working folder.
	char rel[] = "ALPHA/Beta/GAMMA.txt";
	{
		zuz_test::InFolder here(dir.path());
		findPath(rel);
	}
	EXPECT_STREQ(rel, "Alpha/beta/Gamma.TXT");
}
