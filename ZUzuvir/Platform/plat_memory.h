// Linux stand-ins for the Mach task, host and region queries and for the
// loader's address-to-image lookup: what the memory report and the stack crawl
// ask of the system. /proc and dladdr are known here only.
#ifndef PLAT_MEMORY_H
#define PLAT_MEMORY_H

#include <vector>

// Sharing modes in the Mach numbering, which the report prints by name.
enum { plat_sm_cow = 1, plat_sm_private = 2, plat_sm_empty = 3, plat_sm_shared = 4 };

// One mapped region of the address space.
struct plat_vm_region {
	unsigned long long start = 0, size = 0;
	unsigned long long private_pages = 0, shared_pages = 0;  // resident
	unsigned char      share_mode = 0;
	int                ref_count = 0;  // no equivalent on Linux: 0
	bool               readable = false, writable = false;
};

// The process's and the machine's memory figures, as the report prints them.
struct plat_mem_figures {
	unsigned long long page_size = 0;
	unsigned long long virtual_size = 0, resident_size = 0;  // bytes
	unsigned long long free_pages = 0, active_pages = 0, inactive_pages = 0, wired_pages = 0;
	unsigned long long swap_total = 0, swap_avail = 0, swap_used = 0;  // in swap pages
	unsigned long long swap_page_size = 0;
	std::vector<plat_vm_region> regions;  // ascending, user space only
};

// Fills every figure, the regions with their resident page counts.
void plat_mem_query(plat_mem_figures* fig);

// The regions of the address space, ascending, with their access only; false
// when the map cannot be read.
bool plat_vm_regions(std::vector<plat_vm_region>* out);

// The loaded image that holds an address, with the nearest exported symbol at
// or below it. False when no image holds it; path and name may be null.
struct plat_image_info {
	const char* path = nullptr;
	void*       base = nullptr;
	const char* symbol = nullptr;
	void*       symbol_addr = nullptr;
};
bool plat_image_at(const void* address, plat_image_info* info);

#endif
