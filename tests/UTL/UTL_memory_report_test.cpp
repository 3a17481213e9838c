#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "GenC/hl_globals.h"
#include "UTL/UTL_memory_report.h"
#include "UTL/UTL_stats.h"
#include "zuz_test.h"

namespace {

const unsigned long long KiB = 1024, MiB = KiB * KiB, GiB = MiB * KiB;

std::vector<std::string> report_lines(const plat_mem_figures& sys, const mallinfo& ned)
{
	char* buf = nullptr;
	size_t len = 0;
	FILE* f = open_memstream(&buf, &len);
	write_mem_report(f, "a label", sys, ned);
	fclose(f);
	std::vector<std::string> out;
	std::istringstream in(std::string(buf, len));
	for (std::string l; std::getline(in, l);) out.push_back(l);
	free(buf);
	return out;
}

}  // namespace

TEST(MemoryReport, UnitRuleAndSharingModeNames)
{
	const struct {
		unsigned long long bytes;
		unsigned number;
		char unit;
	} amounts[] = {
		{0, 0, 'B'},
		{1433, 1433, 'B'},
		{1434, 1, 'K'},
		{1468006, 1433, 'K'},
		{1468007, 1, 'M'},
		{1572864, 1, 'M'},
		{10 * GiB, 10240, 'M'},
		{14 * GiB, 14336, 'M'},  // 14 GiB itself is not above the line
		{14 * GiB + 1, 14, 'G'},
		{20 * GiB, 20, 'G'},
		{128 * 1024 * GiB, 131072, 'G'},  // a user address space
	};
	for (const auto& a : amounts) {
		EXPECT_EQ(mem_to_number(a.bytes), a.number) << a.bytes;
		EXPECT_EQ(mem_to_suffix(a.bytes), a.unit) << a.bytes;
	}
	const char* const modes[] = {"Unknown", "Copy-on-write", "Private", "Empty", "Shared", "True-Shared",
	                             "Private-Aliased", "Shared-Aliased", "Unknown"};
	for (int m = 0; m <= 8; ++m) EXPECT_STREQ(sm_string((unsigned char)m), modes[m]) << m;
}

TEST(MemoryReport, SyntheticFiguresAndRegions)
{
	plat_mem_figures sys;
	sys.page_size = 4096;
	sys.virtual_size = 3 * GiB + 5;
	sys.resident_size = 1433;
	sys.free_pages = 6 * GiB / 4096;  // a 32-bit product would wrap to 2 GiB
	sys.inactive_pages = 1;
	sys.wired_pages = 359;
	sys.swap_page_size = 4096;
	sys.swap_total = 20 * GiB / 4096;
	sys.swap_avail = 10 * GiB / 4096;
	sys.swap_used = 14 * GiB / 4096;

	// The last region starts in this program's own image.
	const unsigned long long here = (unsigned long long)(uintptr_t)&report_lines & ~4095ULL;
	auto region = [](unsigned long long start, unsigned long long size, int priv, int shared, int mode, int refs) {
		plat_vm_region r;
		r.start = start, r.size = size, r.private_pages = priv, r.shared_pages = shared;
		r.share_mode = (unsigned char)mode, r.ref_count = refs;
		return r;
	};
	sys.regions = {region(0x10000, 0x4000, 2, 1, 1, 3), region(0x14000, MiB, 0, 0, 3, 0),
	               region(0x200000, 0x1000, 0, 1, 9, -1), region(here, 64 * KiB, 0, 2, 4, 1)};

	mallinfo ned;
	memset(&ned, 0, sizeof(ned));
	ned.arena = 5 * MiB;
	ned.ordblks = 7;
	ned.usmblks = 20 * GiB;
	ned.uordblks = 3 * MiB;  // already without the free bytes
	ned.fordblks = 5 * MiB;
	ned.keepcost = 1433;

	std::string exe(4096, '\0');
	exe.resize(readlink("/proc/self/exe", &exe[0], exe.size()));
	const std::string image = "       " + exe.substr(exe.rfind('/') + 1);
	char here_hex[32];
	snprintf(here_hex, sizeof(here_hex), "        0x%08llX", here);

	// "~" lines depend on where this program lies: only their start (or image) is compared.
	const std::vector<std::string> want = {
		"dump_mem_stats: a label",
		"OS X Info:",
		"    Page size:            4K      This is the size of one virtual memory page.",
		"    Vsize (reported):  3072M      This is the total virtual address space used by Nimbara (including empty regions).",
		"    Rsize:             1433B      This is the total amount of real RAM used by Nimbara (virtual pages resident in RAM).",
		"    Free pages:        6144M      This is the total free RAM on the machine.",
		"    Active Pages:         0B      This is the total actively used RAM among all apps - it probably can't be paged out without causing huge performance problems.",
		"    Inactive Pages:       4K      This is the total inactive RAM from all apps - pages that is elligible to be paged out since it hasn't been used recently.",
		"    Wired Pages:          1M      This is the total wired RAM - pages that are 'wired down' and cannot ever be paged out.",
		"    Total Swap Pages:    20G",
		"    Avail Swap Pages: 10240M",
		"    Used  Swap Pages: 14336M",
		"    I will now print the entire map of virtual memory.",
		"        Address           Size    r-private r-shared sharing-mode (ref count)",
		"        0x00000000         64K               --------",
		"        0x00010000         16K           8K     4K          Copy-on-write (  3)       ",
		"        0x00014000       1024K           0B     0B                  Empty (  0)       ",
		"        0x00114000        944K               --------",
		"        0x00200000          4K           0B     4K                Unknown ( -1)       ",
		"~gap",
		"~" + image,
		"    Total vsize:        84K      This is the total non-empty virtual address space used by Nimbara.",
		"    Total rsize:        24K      This is the total amount of real memory used by Nimbara (shared and exclusive).",
		"    Shared rsize:       16K      This is the total amonut of real memory used by Nimbara that is shared with other processes.",
		"    Private rsize:       8K      This is the total amount of real memory used by Nimbara exclusively (private).",
		"    Largest free:     1024K      This is the largest empty region in Nimbara's address space.",
		"    Total free:       1024K      This is the size of all empty regions in Nimbara's address space.",
		"~    Largest gap:  ",
		"~    Total gap:    ",
		"NED-MALLOC INFO:",
		"    This version of Nimbara is using the NED allocator.",
		"    Arena:                 5M     This is the space NED is using that was not created using mmap.",
		"    Free Chunks:           7       ",
		"    Mapped Space:          0B     This is the space NED has allocated for use via mmap.",
		"    Max Alloc Space:      20G     This is the most space NED ever had reserved from any source.",
		"    Total Alloc Space:     3M     This is the current space NED has reserved now from any source.",
		"    Total Free Space:      5M     This is how much free space NED has in its reserves.",
		"    Total Used Space:      3M     This is how much space Nimbara has allocated fmor NED.",
		"    Releasable Space:   1433B     This is how much space NED could give back to the OS if desired.",
	};
	std::vector<std::string> got = report_lines(sys, ned);
	ASSERT_EQ(got.size(), want.size());
	for (size_t i = 0; i < want.size(); ++i) {
		if (want[i] == "~gap") {
			EXPECT_EQ(got[i].rfind("        0x00201000 ", 0), 0u) << got[i];
		} else if (want[i] == "~" + image) {
			EXPECT_EQ(got[i].rfind(here_hex, 0), 0u) << got[i];
			EXPECT_EQ(got[i].substr(got[i].size() - image.size()), image) << got[i];
		} else if (want[i][0] == '~') {
			EXPECT_EQ(got[i].rfind(want[i].substr(1), 0), 0u) << got[i];
		} else {
			EXPECT_EQ(got[i], want[i]) << "line " << i;
		}
	}
}

// Reads an amount of the report, "  123M", back into its unit's number and shift.
static void amount_after(const std::vector<std::string>& lines, const char* key, unsigned* n, int* shift)
{
	for (const std::string& l : lines) {
		if (l.rfind(key, 0) != 0) continue;
		char unit = 0;
		sscanf(l.c_str() + strlen(key), "%u%c", n, &unit);
		*shift = unit == 'G' ? 30 : unit == 'M' ? 20 : unit == 'K' ? 10 : 0;
		return;
	}
	ADD_FAILURE() << key;
}

TEST(MemoryReport, LiveSizesAgreeWithPs)
{
	plat_mem_figures sys;
	plat_mem_query(&sys);
	std::vector<std::string> lines = report_lines(sys, nedmallinfo());
	std::string ps;
	ASSERT_EQ(zuz_test::run("ps -o vsz=,rss= -p " + std::to_string(getpid()), &ps), 0);
	unsigned long long vsz_kb = 0, rss_kb = 0;
	ASSERT_EQ(sscanf(ps.c_str(), "%llu %llu", &vsz_kb, &rss_kb), 2) << ps;

	const struct {
		const char* key;
		unsigned long long ps_bytes;
	} sizes[] = {{"    Vsize (reported): ", vsz_kb * 1024}, {"    Rsize:            ", rss_kb * 1024}};
	for (const auto& s : sizes) {
		unsigned n = 0;
		int shift = 0;
		amount_after(lines, s.key, &n, &shift);
		const double ps_n = (double)(s.ps_bytes >> shift);
		EXPECT_NEAR(n, ps_n, 2 + ps_n / 10) << s.key;
	}
	// The map covers this program and stops below the kernel's half.
	size_t regions = 0;
	for (const std::string& l : lines) {
		if (l.rfind("        0x", 0) == 0 && l.find("--------") == std::string::npos) ++regions;
		EXPECT_EQ(l.find("0xFFFFFFFFFF600000"), std::string::npos);
	}
	EXPECT_EQ(regions, sys.regions.size());
	EXPECT_GT(regions, 10u);
}

static void dump_twice(const std::string& dir)
{
	app_path = dir;
	zuz_test::write_file(dir + "MemoryLog.txt", "stale\n");
	xer.open(dir + "Log.txt");
	for (UTL_remote_cmd* c = UTL_remote_cmd::cmd_list; c; c = c->next)
		if (!strcmp(c->name, "Dump Memory Info")) {
			UTL_remote_cmd::invoke(nullptr, c->id);
			UTL_remote_cmd::invoke(nullptr, c->id);
		}
	xer.close();
	exit(0);
}

TEST(MemoryReportDeathTest, FirstReportOfARunReplacesTheFileLaterOnesAppend)
{
	// A fresh process, so that its first report is the first of the run; the
	// child runs this body again, so the folder must not be random.
	const std::string dir = std::string(getenv("TMPDIR")) + "/dump_twice/";
	mkdir(dir.c_str(), 0755);
	EXPECT_EXIT(dump_twice(dir), testing::ExitedWithCode(0), "");

	const std::string report = zuz_test::read_file(dir + "MemoryLog.txt");
	EXPECT_EQ(report.rfind("dump_mem_stats: Remote Commanded Dump\nOS X Info:\n", 0), 0u) << report.substr(0, 200);
	const std::string tail = "Releasable Space:";
	const size_t second = report.find("dump_mem_stats: Remote Commanded Dump\n", 1);
	ASSERT_NE(second, std::string::npos);
	EXPECT_NE(report.rfind(tail, second), std::string::npos);  // the first is complete
	EXPECT_EQ(report.find("stale"), std::string::npos);
	const std::string logged = "OK check MemoryLog.txt! I just sent him a dump from Remote Commanded Dump\n";
	EXPECT_EQ(zuz_test::read_file(dir + "Log.txt"), logged + logged);
}
