#include <gtest/gtest.h>
#include <unistd.h>

#include <random>

#include "Files/md5.h"
#include "GenC/hl_globals.h"
#include "zuz_test.h"

static std::string random_bytes(size_t n, unsigned seed)
{
	std::mt19937 gen(seed);
	std::string s(n, 0);
	for (char& c : s) c = (char)(gen() & 255);
	return s;
}

TEST(Md5, FilesAroundBlockAndPieceSizesMatchMd5sum)
{
	zuz_test::TempDir dir;
	// Around the 56-byte padding limit, the 64-byte block and the 65,535-byte pieces.
	const size_t sizes[] = {0, 1, 55, 56, 63, 64, 65, 65535, 65536, 65537, 10 * 1000 * 1000};
	for (size_t n : sizes) {
		const std::string path = dir / ("f" + std::to_string(n));
		zuz_test::write_file(path, random_bytes(n, (unsigned)n));
		std::string digest, theirs;
		ASSERT_EQ(calc_file_md5(path, digest), 0) << n;
		ASSERT_EQ(zuz_test::run("md5sum < '" + path + "'", &theirs), 0);
		EXPECT_EQ(digest, theirs.substr(0, 32)) << "size " << n;
	}
}

TEST(Md5, UpdatesInAnyPiecesEqualOneDigest)
{
	zuz_test::TempDir dir;
	const std::string data = random_bytes(300000, 7);
	zuz_test::write_file(dir / "data", data);
	std::string whole;
	ASSERT_EQ(calc_file_md5(dir / "data", whole), 0);

	std::mt19937 gen(3);
	MD5_CTX ctx;
	MD5Init(&ctx);
	MD5Update(&ctx, nullptr, 0);  // empty input, as an empty buffer's data() may give it
	for (size_t at = 0; at < data.size();) {
		size_t n = std::min<size_t>(gen() % 200, data.size() - at);
		MD5Update(&ctx, (const unsigned char*)data.data() + at, (uint16_t)n);
		at += n;
	}
	MD5Final(&ctx);
	char hex[33];
	for (int k = 0; k < 16; ++k) snprintf(hex + 2 * k, 3, "%02x", ctx.digest[k]);
	EXPECT_EQ(std::string(hex), whole);
}

TEST(Md5, LinkDigestsItsTargetTextAndMissingFileIs20006)
{
	zuz_test::TempDir dir;
	zuz_test::write_file(dir / "real", "contents that must not be digested");
	ASSERT_EQ(symlink("real", (dir / "link").c_str()), 0);
	ASSERT_EQ(symlink("nowhere/at/all", (dir / "dangling").c_str()), 0);

	const struct {
		const char *link, *target;
	} cases[] = {{"link", "real"}, {"dangling", "nowhere/at/all"}, {"LINK", "real"}};  // wrongly cased, still a link
	std::string out, expect;
	for (const auto& c : cases) {
		g_case_sensitive = c.link[0] == 'L';
		ASSERT_EQ(calc_file_md5(dir / c.link, out), 0) << c.link;
		zuz_test::run(std::string("printf %s ") + c.target + " | md5sum", &expect);
		EXPECT_EQ(out, expect.substr(0, 32)) << c.link;
	}
	g_case_sensitive = 0;

	out = "unchanged";
	EXPECT_EQ(calc_file_md5(dir / "missing", out), 20006);
	EXPECT_EQ(calc_file_md5(dir.path(), out), 20006);  // a folder is not a file
	EXPECT_EQ(out, "unchanged");
}
