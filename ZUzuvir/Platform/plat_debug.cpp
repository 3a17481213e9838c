#include "Platform/plat_debug.h"

#include <backtrace.h>

#include <cstdint>

static void ignore_error(void*, const char*, int) {}

// Read once, on first use; the reader keeps what it maps for the whole run.
static backtrace_state* state()
{
	static backtrace_state* s = backtrace_create_state(nullptr, 1, ignore_error, nullptr);
	return s;
}

struct found_symbol {
	const char* name = nullptr;
	uintptr_t   start = 0;
};

static void take_symbol(void* data, uintptr_t, const char* name, uintptr_t start, uintptr_t)
{
	auto* f = static_cast<found_symbol*>(data);
	f->name = name;
	f->start = start;
}

bool plat_debug_symbol(const void* address, const char** name, void** start)
{
	found_symbol f;
	if (state()) backtrace_syminfo(state(), (uintptr_t)address, take_symbol, ignore_error, &f);
	if (!f.name || !*f.name) return false;
	*name = f.name;
	*start = (void*)f.start;
	return true;
}

struct found_line {
	const char* file = nullptr;
	int         line = -1;
};

static int take_line(void* data, uintptr_t, const char* file, int line, const char*)
{
	auto* f = static_cast<found_line*>(data);
	if (!file) return 0;
	f->file = file;
	f->line = line;
	return 1;  // the innermost frame is the one the address is in
}

bool plat_debug_line(const void* address, const char** file, int* line)
{
	found_line f;
	if (state()) backtrace_pcinfo(state(), (uintptr_t)address, take_line, ignore_error, &f);
	if (!f.file) return false;
	*file = f.file;
	*line = f.line;
	return true;
}
