#include "UTL/UTL_debug.h"

#include <csignal>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Platform/plat_debug.h"
#include "Platform/plat_memory.h"

void UTL_debug_init()
{
	signal(SIGPIPE, SIG_IGN);
}

// Copies a text into one of the record's fixed buffers, cut to fit.
static void copy_text(char (&to)[1024], const char* from)
{
	snprintf(to, sizeof(to), "%s", from ? from : "");
}

static const char* last_component(const char* path)
{
	const char* s = path;
	for (const char* p = path; *p; ++p)
		if (*p == '/' || *p == '\\') s = p + 1;
	return s;
}

// Symbols and lines are looked up at `probe`: a return address is looked up one
// byte back, inside the call, which may be the last instruction of its function.
static void lookup(const void* probe, symbol_info* info)
{
	memset(info, 0, sizeof(*info));
	info->line = -1;

	plat_image_info image;
	if (!plat_image_at(probe, &image)) return;
	copy_text(info->image, image.path);
	info->load_address = image.base;
	copy_text(info->symbol, image.symbol);
	info->symbol_address = image.symbol_addr;

	const char* file;
	int line;
	if (plat_debug_line(probe, &file, &line)) {
		copy_text(info->source, file);
		info->line = line;
	}
	// The image's own table knows the functions the loader does not export.
	const char* name;
	void* start;
	if (plat_debug_symbol(probe, &name, &start)) {
		copy_text(info->symbol, name);
		info->symbol_address = start;
	}
}

void UTL_get_debug_symbol(void* address, symbol_info* info)
{
	lookup(address, info);
}

static void print_line(FILE* out, void* address, const void* probe)
{
	symbol_info info;
	lookup(probe, &info);
	const uintptr_t a = (uintptr_t)address;
	const long sym_off = (long)(a - (uintptr_t)info.symbol_address);
	if (info.symbol[0]) {
		if (info.symbol_address) fprintf(out, "%s + %ld", info.symbol, sym_off);
		else fprintf(out, "0x%08lx", (unsigned long)a);
	} else {
		if (info.symbol_address) fprintf(out, "0x%08lx + %ld", (unsigned long)(uintptr_t)info.symbol_address, sym_off);
		else fprintf(out, "0x%08lx", (unsigned long)a);
	}
	if (info.source[0]) fprintf(out, " (%s:%d)", last_component(info.source), info.line);

	const long img_off = (long)(a - (uintptr_t)info.load_address);
	if (!info.load_address) fprintf(out, " (?\?\?)\n");  // escaped: not a trigraph
	else if (info.image[0]) fprintf(out, " (%s + %ld)\n", last_component(info.image), img_off);
	else fprintf(out, " (0x%08lx + %ld)\n", (unsigned long)(uintptr_t)info.load_address, img_off);
}

void print_symbol(FILE* out, void* address)
{
	print_line(out, address, address);
}

void UTL_dump_stack(FILE* out, stack_frame* frame, void* pc)
{
	int n = 0;
	if (pc) {
		fprintf(out, " % 2d) ", n++);
		print_symbol(out, pc);
	}
	if (!frame) frame = static_cast<stack_frame*>(__builtin_frame_address(0));
	while (frame) {
		if (!UTL_valid_memory(frame, sizeof(*frame), 1, 1)) break;
		if (n > 99) break;
		if (frame->caller <= frame) break;  // the chain must climb the stack
		fprintf(out, " % 2d) ", n);
		print_line(out, frame->ret, (const char*)frame->ret - 1);
		frame = frame->caller;
		++n;
	}
}

void dump_hex(FILE* out, void* data, int length)
{
	const unsigned char* p = static_cast<const unsigned char*>(data);
	for (int row = 0; row < length; row += 16) {
		fputc(' ', out);
		for (int i = 0; i < 16; ++i) {
			if (i && i % 4 == 0) fputc(' ', out);
			if (row + i < length) fprintf(out, "%02X", p[row + i]);
			else fputs("  ", out);
		}
		fputs("     ", out);
		for (int i = 0; i < 16; ++i) {
			if (i && i % 4 == 0) fputc(' ', out);
			if (row + i >= length) fputc(' ', out);
			else fputc(p[row + i] >= 32 && p[row + i] < 127 ? p[row + i] : '.', out);
		}
		fputc('\n', out);
	}
}

int UTL_valid_memory(void* start, unsigned int length, int need_read, int need_write)
{
	if (length == 0) return 1;
	std::vector<plat_vm_region> map;
	if (!plat_vm_regions(&map)) return 0;
	unsigned long long at = (uintptr_t)start;
	const unsigned long long end = at + length;
	for (const plat_vm_region& r : map) {
		if (r.start + r.size <= at) continue;
		if (r.start > at) return 0;  // a gap
		if ((need_read && !r.readable) || (need_write && !r.writable)) return 0;
		at = r.start + r.size;
		if (at >= end) return 1;
	}
	return 0;
}
