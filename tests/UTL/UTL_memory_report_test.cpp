#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
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
	return zuz_test::lines_of(zuz_test::printed([&](FILE* f) { write_mem_report(f, "a label", sys, ned); }));
}

}  // namespace

// The amounts run along the edges of the unit rule.
TEST(MemoryReport, SyntheticFiguresAndRegions)
{
	// Page size; virtual and resident bytes; free, active, inactive and wired
	// pages; total, available and used swap pages; swap page size. A 32-bit
	// product of the free pages would wrap to 2 GiB.
	plat_mem_figures sys = {4096, 1434, 1433, 6 * GiB / 4096, 0, 1, 359, 20 * GiB / 4096, 10 * GiB / 4096, 14 * GiB / 4096, 4096,
		// start, size, resident private and shared pages, sharing mode, reference count
		{{0x8000, 0x1000, 0, 0, 3, 0}, {0x10000, 0x4000, 2, 1, 1, 3}, {0x14000, MiB, 0, 0, 3, 0}, {0x200000, 0x1000, 0, 1, 9, -1},
		 {0x7F0000000000, 64 * KiB, 0, 2, 7, 1}}};
	// Arena, free chunks, mapped bytes, most ever, in use (already without the
	// free bytes), free, releasable.
	const mallinfo ned = {1468006, 7, 0, 0, 1468007, 14 * GiB + 1, 0, 3 * MiB, 5 * MiB, 1433};

	const std::vector<std::string> want = {
		"dump_mem_stats: a label",
		"OS X Info:",
		"    Page size:            4K      This is the size of one virtual memory page.",
		"    Vsize (reported):     1K      This is the total virtual address space used by Nimbara (including empty regions).",
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
		"        0x00000000         32K               --------",
		"        0x00008000          4K           0B     0B                  Empty (  0)       ",
		"        0x00009000         28K               --------",
		"        0x00010000         16K           8K     4K          Copy-on-write (  3)       ",
		"        0x00014000       1024K           0B     0B                  Empty (  0)       ",
		"        0x00114000        944K               --------",
		"        0x00200000          4K           0B     4K                Unknown ( -1)       ",
		"        0x00201000      130047G               --------",
		"        0x7F0000000000         64K           0B     8K         Shared-Aliased (  1)       ",
		"    Total vsize:        84K      This is the total non-empty virtual address space used by Nimbara.",
		"    Total rsize:        24K      This is the total amount of real memory used by Nimbara (shared and exclusive).",
		"    Shared rsize:       16K      This is the total amonut of real memory used by Nimbara that is shared with other processes.",
		"    Private rsize:       8K      This is the total amount of real memory used by Nimbara exclusively (private).",
		"    Largest free:     1024K      This is the largest empty region in Nimbara's address space.",
		"    Total free:       1028K      This is the size of all empty regions in Nimbara's address space.",
		"    Largest gap:     130047G      This is the size of the largest unused gap in Nimbara's address space.",
		"    Total gap:       130047G      This is the size of all of the gaps in Nimbara's address space - that is, total unused address space.",
		"NED-MALLOC INFO:",
		"    This version of Nimbara is using the NED allocator.",
		"    Arena:              1433K     This is the space NED is using that was not created using mmap.",
		"    Free Chunks:           7       ",
		"    Mapped Space:          1M     This is the space NED has allocated for use via mmap.",
		"    Max Alloc Space:      14G     This is the most space NED ever had reserved from any source.",
		"    Total Alloc Space:     3M     This is the current space NED has reserved now from any source.",
		"    Total Free Space:      5M     This is how much free space NED has in its reserves.",
		"    Total Used Space:      3M     This is how much space Nimbara has allocated fmor NED.",
		"    Releasable Space:   1433B     This is how much space NED could give back to the OS if desired.",
	};
	std::vector<std::string> got = report_lines(sys, ned);
	ASSERT_EQ(got.size(), want.size());
	for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i], want[i]) << "line " << i;
}

TEST(MemoryReport, LiveSizesAgreeWithPs)
{
	plat_mem_figures sys;
	plat_mem_query(&sys);
	std::vector<std::string> lines = report_lines(sys, nedmallinfo());
	std::string ps;
	ASSERT_EQ(zuz_test::run("ps -o vsz=,rss= -p " + std::to_string(getpid()), &ps), 0);
	std::istringstream kb(ps);
	for (const char* key : {"    Vsize (reported): ", "    Rsize:            "}) {
		unsigned long long ps_kb = 0;
		kb >> ps_kb;
		auto l = std::find_if(lines.begin(), lines.end(), [&](const std::string& x) { return x.rfind(key, 0) == 0; });
		ASSERT_NE(l, lines.end());
		unsigned n = 0;
		char unit = 0;
		sscanf(l->c_str() + strlen(key), "%u%c", &n, &unit);
		const double want = (double)((ps_kb << 10) >> (unit == 'G' ? 30 : unit == 'M' ? 20 : unit == 'K' ? 10 : 0));
		EXPECT_NEAR(n, want, 2 + want / 10) << *l << " against ps " << ps;
	}
	// The map names this program's image and stops below the kernel's half.
	std::string exe(4096, '\0');
	exe.resize(readlink("/proc/self/exe", &exe[0], exe.size()));
	const std::string image = "       " + exe.substr(exe.rfind('/') + 1);
	int named = 0;
	for (const std::string& l : lines) {
		named += l.size() > image.size() && l.compare(l.size() - image.size(), image.size(), image) == 0;
		EXPECT_EQ(l.find("0xFFFFFFFFFF600000"), std::string::npos);
	}
	EXPECT_GT(named, 1);
}

static void dump_twice(const std::string& dir)
{
	app_path = dir;
	zuz_test::write_file(dir + "MemoryLog.txt", "stale\n");
	xer.open(dir + "Log.txt");
	for (UTL_remote_cmd* c = UTL_remote_cmd::cmd_list; c; c = c->next)
		if (!strcmp(c->name, "Dump Memory Info")) UTL_remote_cmd::invoke(nullptr, c->id), UTL_remote_cmd::invoke(nullptr, c->id);
	exit(0);
}

TEST(MemoryReportDeathTest, RemoteCommandReplacesTheFileThenAppends)
{
	// A fresh process, whose first report is the first of its run; the child runs
	// this body again, so the folder must not be random.
	const std::string dir = std::string(getenv("TMPDIR")) + "/";
	EXPECT_EXIT(dump_twice(dir), testing::ExitedWithCode(0), "");
	const std::string report = zuz_test::read_file(dir + "MemoryLog.txt");
	const std::string head = "dump_mem_stats: Remote Commanded Dump\nOS X Info:\n";
	const size_t second = report.find(head, 1);
	EXPECT_EQ(report.rfind(head, 0), 0u) << report.substr(0, 100);
	ASSERT_NE(second, std::string::npos);
	EXPECT_NE(report.rfind("    Releasable Space:  ", second), std::string::npos);  // the first is whole
	const std::string logged = "OK check MemoryLog.txt! I just sent him a dump from Remote Commanded Dump\n";
	EXPECT_EQ(zuz_test::read_file(dir + "Log.txt"), logged + logged);
}
