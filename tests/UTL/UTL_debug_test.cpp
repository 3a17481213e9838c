#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <sstream>
#include <vector>

#include "UTL/UTL_debug.h"
#include "zuz_test.h"

static std::vector<std::string> crawl_lines(stack_frame* frame, void* pc)
{
	return zuz_test::lines_of(zuz_test::printed([&](FILE* f) { UTL_dump_stack(f, frame, pc); }));
}

TEST(StackCrawl, SyntheticChainsStopWhereTheyMust)
{
	// One byte in, as a return address is: the lookup steps back into the call.
	void* ret = (char*)&UTL_dump_stack + 1;
	// A page without access, then a read-only one holding two climbing records.
	char* sealed = (char*)mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
	stack_frame* read_only = (stack_frame*)(sealed + 4096);
	read_only[0] = {&read_only[1], ret};
	mprotect(sealed, 4096, PROT_NONE);
	mprotect(read_only, 4096, PROT_READ);
	const struct {
		const char* name;
		int bad_at;  // record whose link is broken, -1 for none
		int to;      // the record it leads to; -1: the page without access, -2: the read-only one
		bool with_pc;
		int lines;
	} cases[] = {
		{"150 frames give lines 0 to 99", -1, 0, false, 100},
		{"a first line for the pc leaves room for 99 frames", -1, 0, true, 100},
		{"a link that does not climb ends the crawl", 3, 1, false, 3},
		{"nor does a link to itself", 3, 3, false, 3},
		{"a link into memory that cannot be read", 2, -1, false, 3},
		{"nor into memory that cannot be written", 2, -2, false, 3},
	};
	for (const auto& c : cases) {
		SCOPED_TRACE(c.name);
		std::vector<stack_frame> rec(151);
		for (int i = 0; i < 150; ++i) rec[i] = {&rec[i + 1], ret};
		if (c.bad_at >= 0) rec[c.bad_at].caller = c.to == -1 ? (stack_frame*)sealed : c.to == -2 ? read_only : &rec[c.to];
		std::vector<std::string> out = crawl_lines(rec.data(), c.with_pc ? ret : nullptr);
		ASSERT_EQ((int)out.size(), c.lines);
		for (int i = 0; i < c.lines; ++i) {
			char head[16];
			snprintf(head, sizeof(head), " % 2d) ", i);
			EXPECT_EQ(out[i].rfind(head + std::string("_Z14UTL_dump_stack"), 0), 0u) << out[i];
		}
	}
	munmap(sealed, 8192);
}

// Three functions that are neither inlined nor left by a tail call.
__attribute__((noinline)) void crawl_c(FILE* f)
{
	UTL_dump_stack(f, nullptr, nullptr);
	asm volatile("");
}
__attribute__((noinline)) void crawl_b(FILE* f)
{
	crawl_c(f);
	asm volatile("");
}
__attribute__((noinline)) void crawl_a(FILE* f)
{
	crawl_b(f);
	asm volatile("");
}

// " N) symbol[ + offset][ (file:line)] (image + offset)"
struct frame_line {
	std::string symbol, source;
	char image[256] = "";
	long offset = -1;
};
static frame_line parse_frame(std::string l)
{
	frame_line f;
	size_t at = l.rfind(" (");
	sscanf(l.c_str() + at, " (%255s + %ld)", f.image, &f.offset);
	l.resize(at);
	if (l.back() == ')') {
		at = l.rfind(" (");
		f.source = l.substr(at + 2, l.size() - at - 3);
		l.resize(at);
	}
	std::string number;
	std::istringstream(l) >> number >> f.symbol;
	return f;
}

TEST(StackCrawl, ThreeFunctionsAgreeWithAddr2line)
{
	// The copies below run this test again, only to write their crawl.
	if (const char* to = getenv("ZUZ_CRAWL_TO")) {
		FILE* f = fopen(to, "w");
		crawl_a(f);
		fclose(f);
		return;
	}
	zuz_test::TempDir dir;
	const std::string copy = dir / "crawler", out = dir / "crawl.txt";
	const struct {
		const char* make;  // from $0 to $1
		bool names, lines;
	} cases[] = {
		{"cp \"$0\" \"$1\"", true, true},
		{"objcopy --strip-debug \"$0\" \"$1\"", true, false},
		{"strip -o \"$1\" \"$0\"", false, false},
	};
	for (const auto& c : cases) {
		SCOPED_TRACE(c.make);
		ASSERT_EQ(zuz_test::run(std::string("sh -c '") + c.make + "' /proc/" + std::to_string(getpid()) + "/exe " + copy), 0);
		ASSERT_EQ(zuz_test::run("ZUZ_CRAWL_TO=" + out + " " + copy + " --gtest_filter=StackCrawl.ThreeFunctions* >/dev/null"), 0);
		std::istringstream crawl(zuz_test::read_file(out));
		for (const char* want : {"crawl_c", "crawl_b", "crawl_a"}) {
			std::string l;
			std::getline(crawl, l);
			frame_line f = parse_frame(l);
			EXPECT_STREQ(f.image, "crawler") << l;
			EXPECT_EQ(f.symbol.find(want) != std::string::npos, c.names) << l;
			EXPECT_EQ(!f.source.empty(), c.lines) << l;
			if (!c.names) continue;

			// addr2line looks at the call itself, one byte before the return address.
			std::string a2l;
			char at[32];
			snprintf(at, sizeof(at), " 0x%lx", f.offset - 1);
			ASSERT_EQ(zuz_test::run("addr2line -f -e " + copy + at, &a2l), 0);
			std::istringstream got(a2l);
			std::string name, where;
			std::getline(got, name);
			std::getline(got, where);
			EXPECT_EQ(f.symbol, name);
			where = where.substr(where.rfind('/') + 1);
			if (!c.lines) continue;
			EXPECT_EQ(f.source, where.substr(0, where.find(' '))) << where;  // " (discriminator N)"
		}
	}
}

// A symbol name longer than the lookup record's 1024-byte texts.
#define ZUZ_CAT(a, b) a##b
#define ZUZ_X2(x) ZUZ_CAT(x, x)
#define ZUZ_LONG(x) ZUZ_X2(ZUZ_X2(ZUZ_X2(ZUZ_X2(ZUZ_X2(ZUZ_X2(ZUZ_X2(x)))))))
namespace ZUZ_LONG(long_name_) {
__attribute__((noinline)) int long_named_function(int x) { return x * 3 + 1; }
}

TEST(StackCrawl, LookupCutsTextsThatDoNotFit)
{
	void* fn = (void*)&ZUZ_LONG(long_name_)::long_named_function;
	symbol_info info;
	memset(&info, 'x', sizeof(info));
	UTL_get_debug_symbol((char*)fn + 1, &info);
	EXPECT_EQ(strlen(info.symbol), 1023u);
	EXPECT_EQ(std::string(info.symbol).rfind("_ZN1280long_name_long_name_", 0), 0u) << info.symbol;
	EXPECT_EQ(info.symbol_address, fn);
	EXPECT_NE(strstr(info.source, "UTL_debug_test.cpp"), nullptr) << info.source;
	EXPECT_GT(info.line, 0);

	// An address in no image: a cleared record, a line of bare numbers.
	char* anon = (char*)mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
	memset(&info, 'x', sizeof(info));
	UTL_get_debug_symbol(anon, &info);
	EXPECT_EQ(std::string(info.image) + info.symbol + info.source, "");
	EXPECT_EQ(info.load_address, nullptr);
	EXPECT_EQ(info.symbol_address, nullptr);
	EXPECT_EQ(info.line, -1);
	char want[64];
	snprintf(want, sizeof(want), "0x%08lx (?\?\?)\n", (unsigned long)anon);
	EXPECT_EQ(zuz_test::printed([&](FILE* f) { print_symbol(f, anon); }), want);
	munmap(anon, 4096);
}

TEST(MemoryHelpers, HexDumpAndMappedRanges)
{
	const char bytes[] = "\x1f ~\x7f" "ABab" "0123" "\xff\x80xy" "LAST";
	const std::string full = " 1F207E7F 41426162 30313233 FF807879     . ~. ABab 0123 ..xy\n";
	const struct {
		int         length;
		std::string text;
	} dumps[] = {
		{20, full + " 4C415354" + std::string(27, ' ') + "     LAST" + std::string(15, ' ') + "\n"},
		{16, full},
		{0, ""},
		{-1, ""},
	};
	for (const auto& d : dumps) EXPECT_EQ(zuz_test::printed([&](FILE* f) { dump_hex(f, (void*)bytes, d.length); }), d.text) << d.length;

	// Four pages: read-write, read-only, no access, unmapped.
	const long page = sysconf(_SC_PAGESIZE);
	char* p = (char*)mmap(nullptr, 4 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
	ASSERT_NE(p, MAP_FAILED);
	mprotect(p + page, page, PROT_READ);
	mprotect(p + 2 * page, page, PROT_NONE);
	munmap(p + 3 * page, page);
	const struct {
		long offset, length;
		int  read, write, valid;
	} ranges[] = {
		{0, page, 1, 1, 1},               // up to the end of a region, not past it
		{page - 8, 16, 1, 0, 1},          // across two readable regions
		{page - 8, 16, 1, 1, 0},          // into one that cannot be written
		{2 * page - 8, 16, 1, 0, 0},      // into one that cannot be read
		{2 * page - 8, 16, 0, 0, 1},
		{3 * page - 8, 16, 0, 0, 0},      // into a gap
		{3 * page, 0, 1, 1, 1},           // an empty range anywhere
	};
	for (const auto& r : ranges)
		EXPECT_EQ(UTL_valid_memory(p + r.offset, (unsigned)r.length, r.read, r.write), r.valid)
			<< r.offset << " + " << r.length << " read " << r.read << " write " << r.write;
	munmap(p, 3 * page);
}
