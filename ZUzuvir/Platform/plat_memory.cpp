#include "Platform/plat_memory.h"

#include <dlfcn.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// Past the largest user address of 5-level paging; only the kernel's vsyscall
// page lies above it.
static const unsigned long long user_space_end = 1ULL << 56;

static unsigned long long page_bytes()
{
	long p = sysconf(_SC_PAGESIZE);
	return p > 0 ? (unsigned long long)p : 4096;
}

static unsigned char share_mode(const char* perms, unsigned long inode)
{
	if (perms[3] == 's') return plat_sm_shared;
	if (perms[0] != 'r' && perms[1] != 'w' && perms[2] != 'x') return plat_sm_empty;  // a reserve
	return inode ? plat_sm_cow : plat_sm_private;
}

// Reads /proc/self/maps, or /proc/self/smaps with the resident sizes.
static bool read_regions(bool smaps, unsigned long long page, std::vector<plat_vm_region>* out)
{
	out->clear();
	FILE* f = fopen(smaps ? "/proc/self/smaps" : "/proc/self/maps", "r");
	if (!f) return false;
	char* line = nullptr;
	size_t cap = 0;
	plat_vm_region* cur = nullptr;
	while (getline(&line, &cap, f) > 0) {
		unsigned long long lo, hi, kb;
		char perms[5] = {0};
		unsigned long inode = 0;
		if (sscanf(line, "%llx-%llx %4s %*s %*s %lu", &lo, &hi, perms, &inode) >= 3) {
			cur = nullptr;
			if (lo >= user_space_end) continue;
			plat_vm_region r;
			r.start = lo;
			r.size = hi - lo;
			r.share_mode = share_mode(perms, inode);
			r.readable = perms[0] == 'r';
			r.writable = perms[1] == 'w';
			out->push_back(r);
			cur = &out->back();
			continue;
		}
		if (!cur) continue;
		char name[32];
		if (sscanf(line, "%31[^:]: %llu kB", name, &kb) != 2) continue;
		unsigned long long pages = kb * 1024 / page;
		if (!strcmp(name, "Private_Clean") || !strcmp(name, "Private_Dirty")) cur->private_pages += pages;
		if (!strcmp(name, "Shared_Clean") || !strcmp(name, "Shared_Dirty")) cur->shared_pages += pages;
	}
	free(line);
	fclose(f);
	return true;
}

bool plat_vm_regions(std::vector<plat_vm_region>* out)
{
	return read_regions(false, page_bytes(), out);
}

// Machine-wide page counts from /proc/meminfo, which counts in kB.
static void read_meminfo(plat_mem_figures* fig)
{
	FILE* f = fopen("/proc/meminfo", "r");
	if (!f) return;
	char line[256], name[64];
	unsigned long long kb;
	while (fgets(line, sizeof(line), f)) {
		if (sscanf(line, "%63[^:]: %llu", name, &kb) != 2) continue;
		unsigned long long pages = kb * 1024 / fig->page_size;
		if (!strcmp(name, "MemFree")) fig->free_pages = pages;
		else if (!strcmp(name, "Active")) fig->active_pages = pages;
		else if (!strcmp(name, "Inactive")) fig->inactive_pages = pages;
		else if (!strcmp(name, "Unevictable")) fig->wired_pages = pages;  // can never be paged out
	}
	fclose(f);
}

void plat_mem_query(plat_mem_figures* fig)
{
	*fig = plat_mem_figures();
	fig->page_size = page_bytes();

	FILE* f = fopen("/proc/self/statm", "r");
	if (f) {
		unsigned long long size = 0, resident = 0;
		if (fscanf(f, "%llu %llu", &size, &resident) == 2) {
			fig->virtual_size = size * fig->page_size;
			fig->resident_size = resident * fig->page_size;
		}
		fclose(f);
	}
	read_meminfo(fig);

	// Swap in pages of the system's page size, so that pages x page size is bytes.
	struct sysinfo si;
	fig->swap_page_size = fig->page_size;
	if (sysinfo(&si) == 0) {
		unsigned long long unit = si.mem_unit ? si.mem_unit : 1;
		fig->swap_total = si.totalswap * unit / fig->page_size;
		fig->swap_avail = si.freeswap * unit / fig->page_size;
		fig->swap_used = fig->swap_total - fig->swap_avail;
	}
	read_regions(true, fig->page_size, &fig->regions);
}

bool plat_image_at(const void* address, plat_image_info* info)
{
	*info = plat_image_info();
	Dl_info dl;
	if (!dladdr(address, &dl)) return false;
	info->path = dl.dli_fname;
	info->base = dl.dli_fbase;
	info->symbol = dl.dli_sname;
	info->symbol_addr = dl.dli_saddr;
	return true;
}
