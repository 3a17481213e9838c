#include "UTL/UTL_memory_report.h"

#include <string>

#include "GenC/hl_globals.h"
#include "UTL/UTL_stats.h"

// The report's formats put a space flag on %u and %s, which printf ignores there;
// they are kept as the report has always been written.
#pragma GCC diagnostic ignored "-Wformat"

UTL_remote_cmd dump_mem_now("Dump Memory Info", DumpMemCmd);

void DumpMemCmd()
{
	static char label[] = "Remote Commanded Dump";
	dump_mem_stats(label);
}

// 14 GiB compared as an integer; the two lower steps are 1.4 units, compared as
// floating point.
static int mem_shift(unsigned long long bytes)
{
	if (bytes > 15032385536ULL) return 30;
	if ((double)bytes > 1468006.4) return 20;
	if ((double)bytes > 1433.6) return 10;
	return 0;
}

unsigned int mem_to_number(unsigned long long bytes)
{
	return (unsigned int)(bytes >> mem_shift(bytes));
}

char mem_to_suffix(unsigned long long bytes)
{
	switch (mem_shift(bytes)) {
	case 30: return 'G';
	case 20: return 'M';
	case 10: return 'K';
	default: return 'B';
	}
}

const char* sm_string(unsigned char mode)
{
	static const char* const names[] = {"Copy-on-write", "Private", "Empty", "Shared", "True-Shared",
	                                    "Private-Aliased", "Shared-Aliased"};
	return mode >= 1 && mode <= 7 ? names[mode - 1] : "Unknown";
}

#define AMT(b) mem_to_number(b), mem_to_suffix(b)

static void write_region_map(FILE* out, const plat_mem_figures& sys)
{
	fprintf(out, "    I will now print the entire map of virtual memory.\n");
	fprintf(out, "        Address           Size    r-private r-shared sharing-mode (ref count)\n");

	unsigned long long total_vsize = 0, total_rsize = 0, shared_rsize = 0, private_rsize = 0;
	unsigned long long largest_free = 0, total_free = 0, largest_gap = 0, total_gap = 0;
	unsigned long long prev_end = 0;
	for (const plat_vm_region& r : sys.regions) {
		if (r.start > prev_end) {
			const unsigned long long gap = r.start - prev_end;
			fprintf(out, "        0x%08llX      % 5u%c               --------\n", prev_end, AMT(gap));
			if (gap > largest_gap) largest_gap = gap;
			total_gap += gap;
		}
		plat_image_info image;
		const char* name = "";
		if (plat_image_at((const void*)r.start, &image)) {
			name = image.path ? image.path : "null";
			for (const char* p = name; *p; ++p)
				if (*p == '/') name = p + 1;
		}
		const unsigned long long priv = r.private_pages * sys.page_size;
		const unsigned long long shared = r.shared_pages * sys.page_size;
		fprintf(out, "        0x%08llX      % 5u%c       % 5u%c % 5u%c   % 20s (% 3d)       %s\n", r.start,
		        AMT(r.size), AMT(priv), AMT(shared), sm_string(r.share_mode), r.ref_count, name);

		if (r.share_mode != plat_sm_empty) total_vsize += r.size;
		total_rsize += priv + shared;
		private_rsize += priv;
		shared_rsize += shared;
		if (r.share_mode == plat_sm_empty) {
			total_free += r.size;
			if (r.size > largest_free) largest_free = r.size;
		}
		prev_end = r.start + r.size;
	}

	fprintf(out,
	        "    Total vsize:     % 5u%c      This is the total non-empty virtual address space used by Nimbara.\n"
	        "    Total rsize:     % 5u%c      This is the total amount of real memory used by Nimbara (shared and exclusive).\n"
	        "    Shared rsize:    % 5u%c      This is the total amonut of real memory used by Nimbara that is shared with other processes.\n"
	        "    Private rsize:   % 5u%c      This is the total amount of real memory used by Nimbara exclusively (private).\n"
	        "    Largest free:    % 5u%c      This is the largest empty region in Nimbara's address space.\n"
	        "    Total free:      % 5u%c      This is the size of all empty regions in Nimbara's address space.\n"
	        "    Largest gap:     % 5u%c      This is the size of the largest unused gap in Nimbara's address space.\n"
	        "    Total gap:       % 5u%c      This is the size of all of the gaps in Nimbara's address space - that is, total unused address space.\n",
	        AMT(total_vsize), AMT(total_rsize), AMT(shared_rsize), AMT(private_rsize), AMT(largest_free),
	        AMT(total_free), AMT(largest_gap), AMT(total_gap));
}

void write_mem_report(FILE* out, const char* label, const plat_mem_figures& sys, const mallinfo& ned)
{
	const unsigned long long page = sys.page_size, swap_page = sys.swap_page_size;
	fprintf(out, "dump_mem_stats: %s\n", label);
	fprintf(out, "OS X Info:\n");
	fprintf(out,
	        "    Page size:        % 5u%c      This is the size of one virtual memory page.\n"
	        "    Vsize (reported): % 5u%c      This is the total virtual address space used by Nimbara (including empty regions).\n"
	        "    Rsize:            % 5u%c      This is the total amount of real RAM used by Nimbara (virtual pages resident in RAM).\n"
	        "    Free pages:       % 5u%c      This is the total free RAM on the machine.\n"
	        "    Active Pages:     % 5u%c      This is the total actively used RAM among all apps - it probably can't be paged out without causing huge performance problems.\n"
	        "    Inactive Pages:   % 5u%c      This is the total inactive RAM from all apps - pages that is elligible to be paged out since it hasn't been used recently.\n"
	        "    Wired Pages:      % 5u%c      This is the total wired RAM - pages that are 'wired down' and cannot ever be paged out.\n"
	        "    Total Swap Pages: % 5u%c\n"
	        "    Avail Swap Pages: % 5u%c\n"
	        "    Used  Swap Pages: % 5u%c\n",
	        AMT(page), AMT(sys.virtual_size), AMT(sys.resident_size), AMT(sys.free_pages * page),
	        AMT(sys.active_pages * page), AMT(sys.inactive_pages * page), AMT(sys.wired_pages * page),
	        AMT(sys.swap_total * swap_page), AMT(sys.swap_avail * swap_page), AMT(sys.swap_used * swap_page));

	write_region_map(out, sys);

	// Used space is uordblks itself: it already leaves out the free bytes.
	fprintf(out, "NED-MALLOC INFO:\n");
	fprintf(out, "    This version of Nimbara is using the NED allocator.\n");
	fprintf(out,
	        "    Arena:             % 5u%c     This is the space NED is using that was not created using mmap.\n"
	        "    Free Chunks:       % 5u       \n"
	        "    Mapped Space:      % 5u%c     This is the space NED has allocated for use via mmap.\n"
	        "    Max Alloc Space:   % 5u%c     This is the most space NED ever had reserved from any source.\n"
	        "    Total Alloc Space: % 5u%c     This is the current space NED has reserved now from any source.\n"
	        "    Total Free Space:  % 5u%c     This is how much free space NED has in its reserves.\n"
	        "    Total Used Space:  % 5u%c     This is how much space Nimbara has allocated fmor NED.\n"
	        "    Releasable Space:  % 5u%c     This is how much space NED could give back to the OS if desired.\n",
	        AMT(ned.arena), (unsigned int)ned.ordblks, AMT(ned.hblkhd), AMT(ned.usmblks), AMT(ned.uordblks),
	        AMT(ned.fordblks), AMT(ned.uordblks), AMT(ned.keepcost));
}

void dump_mem_stats(char* label)
{
	static int first_dump = 1;
	xer << "OK check MemoryLog.txt! I just sent him a dump from " << label << "\n";

	const std::string path = app_path + "MemoryLog.txt";
	FILE* f = fopen(path.c_str(), first_dump ? "w" : "a");
	first_dump = 0;

	plat_mem_figures sys;
	plat_mem_query(&sys);
	write_mem_report(f ? f : stdout, label, sys, nedmallinfo());
	if (f) fclose(f);
}
