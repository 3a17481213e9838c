#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "UTL/UTL_debug.h"
#include "zuz_test.h"

namespace {

std::string capture(void (*fill)(FILE*, void*), void* arg)
{
	char* buf = nullptr;
	size_t len = 0;
	FILE* f = open_memstream(&buf, &len);
	fill(f, arg);
	fclose(f);
	std::string s(buf, len);
	free(buf);
	return s;
}

std::vector<std::string> lines_of(const std::string& text)
{
	std::vector<std::string> out;
	std::istringstream in(text);
	for (std::string l; std::getline(in, l);) out.push_back(l);
	return out;
}

std::string self_exe()
{
	char buf[4096];
	ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
	return n > 0 ? std::string(buf, (size_t)n) : "";
}

// A page with no access, then unmapped, so nothing else can land there meanwhile.
struct hole_page {
	hole_page() { p = mmap(nullptr, 2 * 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0); }
	~hole_page() { munmap(p, 2 * 4096); }
	void* readonly_frame(stack_frame rec)
	{
		mprotect(p, 4096, PROT_READ | PROT_WRITE);
		memcpy(p, &rec, sizeof(rec));
		mprotect(p, 4096, PROT_READ);
		return p;
	}
	void* no_access() { return (char*)p + 4096; }
	void* p;
};

}  // namespace

TEST(StackCrawl, SyntheticChainsStopWhereTheyMust)
{
	hole_page page;
	enum { climbs, null_link, falls_back, unmapped, read_only };
	struct chain_case {
		const char* name;
		int frames;      // records laid out upwards in memory
		int bad_at;      // record whose link is broken, -1 for none
		int how;
		bool with_pc;
		int lines;       // written
	};
	const chain_case cases[] = {
		{"150 frames give lines 0 to 99", 150, -1, climbs, false, 100},
		{"a first line for the pc leaves 99 frames", 150, -1, climbs, true, 100},
		{"a null link ends the chain unwritten", 5, 4, null_link, false, 4},
		{"a link that does not climb", 6, 3, falls_back, false, 3},
		{"a link into memory without access", 6, 2, unmapped, false, 3},
		{"a link to a record that is not writable", 6, 2, read_only, false, 3},
	};
	// One byte in, as a return address is: the lookup steps back into the call.
	void* ret = (char*)&UTL_dump_stack + 1;
	for (const chain_case& c : cases) {
		SCOPED_TRACE(c.name);
		std::vector<stack_frame> rec(c.frames + 1);
		for (int i = 0; i < c.frames; ++i) rec[i] = {&rec[i + 1], ret};
		rec[c.frames] = {nullptr, ret};
		if (c.how == null_link) rec[c.bad_at].caller = nullptr;
		if (c.how == falls_back) rec[c.bad_at].caller = &rec[1];
		if (c.how == unmapped) rec[c.bad_at].caller = (stack_frame*)page.no_access();
		if (c.how == read_only) rec[c.bad_at].caller = (stack_frame*)page.readonly_frame({&rec[c.frames], ret});

		struct arg_t {
			stack_frame* f;
			void* pc;
		} arg = {rec.data(), c.with_pc ? ret : nullptr};
		std::vector<std::string> out = lines_of(capture(
			[](FILE* f, void* a) {
				auto* p = static_cast<arg_t*>(a);
				UTL_dump_stack(f, p->f, p->pc);
			},
			&arg));
		ASSERT_EQ((int)out.size(), c.lines);
		EXPECT_EQ(out.front().rfind("  0) ", 0), 0u) << out.front();
		EXPECT_NE(out.front().find("UTL_dump_stack"), std::string::npos) << out.front();
		char last[16];
		snprintf(last, sizeof(last), " % 2d) ", c.lines - 1);
		EXPECT_EQ(out.back().rfind(last, 0), 0u) << out.back();
	}
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

struct frame_line {
	std::string symbol, source, image;
	long image_offset = -1;
};

// " N) name + off (file:line) (image + off)", the source part optional.
static frame_line parse_frame(const std::string& l)
{
	frame_line r;
	size_t close = l.find(") ");
	std::string rest = l.substr(close + 2);
	size_t img = rest.rfind(" (");
	std::string image = rest.substr(img + 2, rest.size() - img - 3);
	rest.resize(img);
	size_t plus = image.rfind(" + ");
	r.image = image.substr(0, plus);
	r.image_offset = strtol(image.c_str() + plus + 3, nullptr, 10);
	size_t src = rest.rfind(" (");
	if (src != std::string::npos) {
		r.source = rest.substr(src + 2, rest.size() - src - 3);
		rest.resize(src);
	}
	r.symbol = rest.substr(0, rest.find(" + "));
	return r;
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
	const std::string exe = self_exe();
	struct copy_case {
		const char* name;
		const char* make;  // shell command from $SRC to $DST
		bool names, lines;
	};
	const copy_case cases[] = {
		{"the test binary", "cp \"$SRC\" \"$DST\"", true, true},
		{"without debugging records", "objcopy --strip-debug \"$SRC\" \"$DST\"", true, false},
		{"stripped", "strip -o \"$DST\" \"$SRC\"", false, false},
	};
	for (const copy_case& c : cases) {
		SCOPED_TRACE(c.name);
		const std::string copy = dir / "crawler", out = dir / "crawl.txt";
		const std::string env = "SRC='" + exe + "' DST='" + copy + "' ";
		ASSERT_EQ(zuz_test::run(env + "sh -c '" + c.make + "'"), 0);
		ASSERT_EQ(zuz_test::run("ZUZ_CRAWL_TO='" + out + "' '" + copy +
		                        "' --gtest_filter=StackCrawl.ThreeFunctionsAgreeWithAddr2line >/dev/null 2>&1"),
		          0);
		std::vector<std::string> crawl = lines_of(zuz_test::read_file(out));
		ASSERT_GE(crawl.size(), 4u);
		const char* const want[] = {"crawl_c", "crawl_b", "crawl_a"};
		for (int i = 0; i < 3; ++i) {
			SCOPED_TRACE(crawl[i]);
			frame_line f = parse_frame(crawl[i]);
			EXPECT_EQ(f.image, "crawler");
			EXPECT_EQ(f.symbol.find(want[i]) != std::string::npos, c.names);
			EXPECT_EQ(!f.source.empty(), c.lines);
			if (!c.names) continue;

			// addr2line looks at the call itself, one byte before the return address.
			char addr[32];
			snprintf(addr, sizeof(addr), "0x%lx", f.image_offset - 1);
			std::string a2l;
			ASSERT_EQ(zuz_test::run("addr2line -f -e '" + copy + "' " + addr, &a2l), 0);
			std::vector<std::string> got = lines_of(a2l);
			ASSERT_EQ(got.size(), 2u) << a2l;
			EXPECT_EQ(f.symbol, got[0]);
			if (!c.lines) continue;
			std::string where = got[1].substr(got[1].rfind('/') + 1);
			where = where.substr(0, where.find(' '));  // " (discriminator N)"
			EXPECT_EQ(f.source, where);
		}
	}
}

// A symbol name longer than the record's 1024-byte text.
#define ZUZ_CAT(a, b) a##b
#define ZUZ_CAT2(a, b) ZUZ_CAT(a, b)
#define ZUZ_X2(x) ZUZ_CAT2(x, x)
#define ZUZ_X32(x) ZUZ_X2(ZUZ_X2(ZUZ_X2(ZUZ_X2(ZUZ_X2(x)))))
namespace ZUZ_X32(long_name_segment_a_) { namespace ZUZ_X32(long_name_segment_b_) {
namespace ZUZ_X32(long_name_segment_c_) {
__attribute__((noinline)) int long_named_function(int x) { return x * 3 + 1; }
}}}

TEST(StackCrawl, LookupNamesTheSymbolAndCutsLongTexts)
{
	auto fn = &ZUZ_X32(long_name_segment_a_)::ZUZ_X32(long_name_segment_b_)::ZUZ_X32(
		long_name_segment_c_)::long_named_function;
	symbol_info info;
	memset(&info, 'x', sizeof(info));
	UTL_get_debug_symbol((void*)((char*)fn + 1), &info);
	EXPECT_EQ(strlen(info.symbol), 1023u);
	EXPECT_EQ(std::string(info.symbol).rfind("_ZN", 0), 0u);
	EXPECT_EQ(info.symbol_address, (void*)fn);
	EXPECT_NE(std::string(info.source).find("UTL_debug_test.cpp"), std::string::npos) << info.source;
	EXPECT_GT(info.line, 0);
	const std::string exe = self_exe(), image = info.image;
	EXPECT_EQ(exe.substr(exe.rfind('/')), image.substr(image.rfind('/')));
	EXPECT_NE(info.load_address, nullptr);

	// An address no image holds: bare numbers.
	char* heap = (char*)malloc(16);
	UTL_get_debug_symbol(heap, &info);
	EXPECT_EQ(info.image[0] | info.symbol[0] | info.source[0], 0);
	EXPECT_EQ(info.line, -1);
	std::string line = capture([](FILE* f, void* a) { print_symbol(f, a); }, heap);
	char want[64];
	snprintf(want, sizeof(want), "0x%08lx (?\?\?)\n", (unsigned long)heap);
	EXPECT_EQ(line, want);
	free(heap);
}

TEST(DebugHelpers, HexDumpAndMappedRanges)
{
	const struct {
		const char* bytes;
		int length;
		const char* dump;
	} dumps[] = {
		{"Hello, world! 123456", 20,
		 " 48656C6C 6F2C2077 6F726C64 21203132     Hell o, w orld ! 12\n"
		 " 33343536                                3456               \n"},
		{"\x01\x7f", 2, " 017F                                    ..                 \n"},
		{"", 0, ""},
		{"abc", -1, ""},
	};
	for (const auto& d : dumps) {
		std::pair<const char*, int> arg(d.bytes, d.length);
		EXPECT_EQ(capture(
			          [](FILE* f, void* a) {
				          auto* p = static_cast<std::pair<const char*, int>*>(a);
				          dump_hex(f, (void*)p->first, p->second);
			          },
			          &arg),
		          d.dump);
	}

	hole_page page;
	long on_stack = 0;
	static const char text[] = "read-only";
	char* two = (char*)mmap(nullptr, 2 * 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
	munmap(two + 4096, 4096);
	const struct {
		const char* name;
		void* start;
		unsigned length;
		int read, write, valid;
	} ranges[] = {
		{"the stack", &on_stack, sizeof(on_stack), 1, 1, 1},
		{"constant text, read", (void*)text, 4, 1, 0, 1},
		{"constant text, write", (void*)text, 4, 1, 1, 0},
		{"a page without access, no need", page.p, 16, 0, 0, 1},
		{"a page without access, read", page.p, 16, 1, 0, 0},
		{"the null page", nullptr, 1, 0, 0, 0},
		{"an empty range", nullptr, 0, 1, 1, 1},
		{"a mapped page", two, 4096, 1, 1, 1},
		{"running into a gap", two + 4000, 200, 1, 0, 0},
	};
	for (const auto& r : ranges) EXPECT_EQ(UTL_valid_memory(r.start, r.length, r.read, r.write), r.valid) << r.name;
	munmap(two, 4096);
}
