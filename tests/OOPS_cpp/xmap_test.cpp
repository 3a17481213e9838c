#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Files/io_utils.h"
#include "GenC/hl_globals.h"
#include "OOPS_cpp/xmap.h"
#include "zuz_test.h"

using zuz_test::write_file;

static std::string at_cursor(const xmap_class& m)
{
	return m.cursor ? std::string(m.cursor, m.end) : "<null>";
}

TEST(Xmap, TextHeaderCheck)
{
	const int v820[] = {820, 0}, vlist[] = {840, 900, 0}, vneg[] = {-5, 0}, v5[] = {5, 0}, none[] = {0};
	const struct {
		const char* name;
		std::string bytes;
		const int*  versions;
		const char* signature;
		int         result;
		const char* rest;  // the text at the cursor afterwards
	} cases[] = {
		{"servers", "I\n820 version\nSERVERS\nfirst record\n", v820, "SERVERS", 820, "first record\n"},
		{"partial keyword", "I\n820 version\nSERVERS\nrec\n", v820, "SERVER", 0, "SERVERS\nrec\n"},
		{"letter A, CR ends", "A junk\r\r\n  820 version\r\n\r\nSERVERS  tail\r\nrec", v820, "SERVERS", 820, "rec"},
		{"NUL ends lines", std::string("I\0" "820 version\0SERVERS\0\0rec", 26), v820, "SERVERS", 820, "rec"},
		{"other letter", "X\n820 version\nSERVERS\n", v820, "SERVERS", 0, nullptr},
		{"negative", "I\n-5 version\nrest", vneg, nullptr, -5, "rest"},
		{"a plus after the minus wins", "I\n-+5 version\nrest", v5, nullptr, 5, "rest"},
		{"no blank after digits", "I\n820version\n", v820, nullptr, 0, nullptr},
		{"unlisted", "I\n841 version\nINSTALLER\n", vlist, "INSTALLER", 0, nullptr},
		{"second of list", "I\n900 version\nINSTALLER\n", vlist, "INSTALLER", 900, ""},
		{"keyword at end of file", "I\n840 version\nINSTALLER", vlist, "INSTALLER", 840, ""},
		{"empty list", "I\n820 version\n", none, nullptr, 0, nullptr},
		{"letter only", "I", v820, nullptr, 0, nullptr},
		{"digits overflow", "I\n99999999999999999999 version\n", v820, nullptr, 0, nullptr},
		{"empty", "", v820, nullptr, 0, nullptr},
	};
	zuz_test::TempDir dir;
	for (const auto& c : cases) {
		write_file(dir / "f.txt", c.bytes);
		xmap_class m(dir / "f.txt");
		ASSERT_NE(m.base, nullptr) << c.name;
		EXPECT_EQ(m.check_file(io_type_text, c.versions, c.signature, nullptr), c.result) << c.name;
		if (c.rest) {
			EXPECT_EQ(at_cursor(m), c.rest) << c.name;
		}
	}

	// A ":" in a folder's name is an ordinary character here.
	make_folder(dir / "My:Games/");
	write_file(dir / "My:Games/f.txt", "I\n820 version and more\nx");
	xmap_class m(dir / "My:Games/f.txt");
	std::string rest;
	EXPECT_EQ(m.check_file(io_type_text, v820, nullptr, &rest), 820);
	EXPECT_EQ(rest, "version and more");
}

TEST(Xmap, BinaryHeaderAndSwappedReads)
{
	zuz_test::TempDir dir;
	const int v900[] = {900, 0};
	write_file(dir / "big.bin", std::string("a\x00\x00\x03\x84" "ABCDEFGH" "abcdef", 19));
	xmap_class m(dir / "big.bin");
	EXPECT_EQ(m.check_file(io_type_binary, v900, nullptr, nullptr), 900);
	EXPECT_EQ(m.swap, 1);
	char eight[8], six[6];
	m.read_n_rev(eight, 8);
	EXPECT_EQ(std::string(eight, 8), "DCBAHGFE");
	m.read_n_rev(six, 6);
	EXPECT_EQ(std::string(six, 6), "dcbaef");
	EXPECT_EQ(m.cursor, m.end);

	write_file(dir / "little.bin", std::string("i\x84\x03\x00\x00" "ABCD", 9));
	EXPECT_EQ(m.retry(dir / "little.bin"), m.base);
	EXPECT_EQ(m.check_file(io_type_binary, v900, nullptr, nullptr), 900);
	EXPECT_EQ(m.swap, 0);
	m.read_n_rev(eight, 4);
	EXPECT_EQ(std::string(eight, 4), "ABCD");

	// Four version bytes and nothing more; the top one counts.
	const int v_top[] = {900 | 5 << 24, 0};
	write_file(dir / "exact.bin", std::string("i\x84\x03\x00\x05", 5));
	ASSERT_NE(m.retry(dir / "exact.bin"), nullptr);
	EXPECT_EQ(m.check_file(io_type_binary, v_top, nullptr, nullptr), 900 | 5 << 24);

	// Fewer than four version bytes give version 0, never 900 from the zeros
	// that pad the mapping's page after the file's end.
	write_file(dir / "short.bin", std::string("i\x84\x03\x00", 4));
	ASSERT_NE(m.retry(dir / "short.bin"), nullptr);
	EXPECT_EQ(m.check_file(io_type_binary, v900, nullptr, nullptr), 0);
}

TEST(Xmap, PresenceEmptyFilesAndTheOpenCount)
{
	zuz_test::TempDir dir;
	const int before = mapped_files_open;
	write_file(dir / "empty", "");
	{
		xmap_class empty(dir / "empty");
		EXPECT_NE(empty.base, nullptr);
		EXPECT_EQ(empty.base, empty.end);
		const int v[] = {1, 0};
		EXPECT_EQ(empty.check_file(io_type_text, v, nullptr, nullptr), 0);
		xmap_class missing(dir / "missing");
		EXPECT_EQ(missing.base, nullptr);
		xmap_class folder(dir.path());  // a folder maps as nothing, without an alert
		EXPECT_EQ(folder.base, nullptr);
		xmap_class none("");
		EXPECT_EQ(none.base, nullptr);
		EXPECT_EQ(mapped_files_open, before + 1);
	}
	EXPECT_EQ(mapped_files_open, before);

	// Wrong letter case resolves while case repair is on.
	write_file(dir / "Header.TXT", "I\n5 version\n");
	g_case_sensitive = 1;
	xmap_class m(dir / "header.txt");
	g_case_sensitive = 0;
	EXPECT_NE(m.base, nullptr);
	const int v5[] = {5, 0};
	EXPECT_EQ(m.io_file_open(0, dir / "Header.TXT", v5, io_type_text), 1);
	EXPECT_EQ(m.io_file_open(0, dir / "missing", v5, io_type_text), 0);
	EXPECT_EQ(m.io_file_open(2, dir / "Header.TXT", v5, io_type_text), 0);
	ASSERT_EQ(m.io_file_open(1, dir / "out.txt", v5, io_type_text), 1);
	ouf << "body\n";
	m.io_file_close();
	EXPECT_EQ(zuz_test::read_file(dir / "out.txt"), "I\n5 version\nbody\n");
}

TEST(Xmap, ScannersStopAtTheEndOfAFullPage)
{
	// A header file of exactly one page with no final line end: nothing follows the
	// mapping, so every scanner must stop at its end.
	zuz_test::TempDir dir;
	std::string page = "I\n820 version\nSERVERS\n  word1\tword2 ";
	page += std::string(4096 - page.size() - 4, 'z') + "tail";
	ASSERT_EQ(page.size(), 4096u);
	write_file(dir / "page.txt", page);
	xmap_class m(dir / "page.txt");
	const int v[] = {820, 0};
	ASSERT_EQ(m.check_file(io_type_text, v, "SERVERS", nullptr), 820);
	std::string word, line;
	m.TXT_str_scan_space(&word);
	EXPECT_EQ(word, "word1");
	m.TXT_str_scan_space(&word);
	EXPECT_EQ(word, "word2");
	m.TXT_str_scan_eoln(&line);
	EXPECT_EQ(line.size(), 4096u - 36);
	EXPECT_EQ(m.cursor, m.end);
	m.TXT_str_scan_space(&word);
	EXPECT_EQ(word, "");
	m.TXT_str_scan_eoln(nullptr);
	EXPECT_EQ(m.cursor, m.end);

	// A keyword that runs into the end of the page. The page is moved to just below a
	// page without access, so a read past its end faults. (Leaving a hole for the
	// map to fall into is not enough: the allocator may take the hole first.)
	std::string sig(4096 - 14, 'K');
	write_file(dir / "sig.txt", "I\n820 version\n" + sig);
	const std::string longer = sig + "K";
	xmap_class s(dir / "sig.txt");
	ASSERT_NE(s.base, nullptr);
	char* guard = (char*)mmap(nullptr, 8192, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
	ASSERT_NE(guard, MAP_FAILED);
	ASSERT_EQ(mremap((void*)s.base, 4096, 4096, MREMAP_MAYMOVE | MREMAP_FIXED, guard), guard);
	s.base = s.cursor = guard;
	s.end = guard + 4096;
	EXPECT_EQ(s.check_file(io_type_text, v, longer.c_str(), nullptr), 0);
	EXPECT_EQ(s.check_file(io_type_text, v, sig.c_str(), nullptr), 820);
	munmap(guard + 4096, 4096);
}

TEST(Xmap, LogLineNumbers)
{
	zuz_test::TempDir dir;
	zuz_test::LogCapture log;
	write_file(dir / "lf.txt", "one\ntwo\nthree\r\nfour");
	xmap_class m(dir / "lf.txt");
	m.TXT_str_scan_eoln(nullptr);
	m.TXT_str_scan_eoln(nullptr);
	m.TXT_xer_line();
	m.TXT_str_scan_eoln(nullptr);
	m.TXT_xer_line();
	write_file(dir / "cr.txt", "a\rb\rc\r\rd");
	xmap_class c(dir / "cr.txt");
	c.cursor = c.end - 1;
	c.TXT_xer_line();
	EXPECT_EQ(log.text(), "3 \"three\"\n4 \"four\"\n5 \"d\"\n");
}

static void map_without_stdin(const std::string& path)
{
	close(0);
	for (int i = 0; i < 3; ++i) {
		xmap_class m(path);
		if (!m.base) exit(2);
	}
	// Descriptor 0 was free: had a mapping kept it, it would still be open here.
	exit(fcntl(0, F_GETFD) == -1 ? 0 : 3);
}

TEST(XmapDeathTest, NoDescriptorLeaksWithoutStandardInput)
{
	const std::string path = std::string(getenv("TMPDIR")) + "/stdin_test.txt";
	write_file(path, "I\n1 version\n");
	EXPECT_EXIT(map_without_stdin(path), testing::ExitedWithCode(0), "");
}

static void map_fifo(const std::string& path)
{
	alarm(10);  // a wait for a writer ends here, with a signal
	xmap_class m(path);
	exit(m.base ? 3 : 0);
}

TEST(XmapDeathTest, AFifoIsNotAFileAndIsNotWaitedOn)
{
	const std::string path = std::string(getenv("TMPDIR")) + "/xmap_fifo";
	unlink(path.c_str());
	ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
	EXPECT_EXIT(map_fifo(path), testing::ExitedWithCode(0), "");
}

TEST(XmapDeathTest, BadPathsAndReadsAreFatal)
{
	const std::string path = std::string(getenv("TMPDIR")) + "/x\\y.txt";
	write_file(path, "I\n1 version\n");
	EXPECT_EXIT(xmap_class m(path), testing::ExitedWithCode(1),
	            "xmap, line 128\\)\nOOPS!\nI got a bad dirchar! I only want '/'!\nThe path in question is:\n");
	EXPECT_EXIT(
		{
			xmap_class m(path.substr(0, path.size() - 7) + "stdin_test.txt");
			m.check_file(5, nullptr, nullptr, nullptr);
		},
		testing::ExitedWithCode(1), "xmap, line 12\\)\nBad check_file type!");
	EXPECT_EXIT(
		{
			const std::string ok = std::string(getenv("TMPDIR")) + "/four.bin";
			write_file(ok, "abcd");
			xmap_class m(ok);
			char buf[8];
			m.read_n_rev(buf, 5);
		},
		testing::ExitedWithCode(1), "xmap, line 53\\)\nInvalid read_n_rev read!");
}
