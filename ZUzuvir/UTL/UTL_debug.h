// Debugging helpers: the debug start-up, the stack crawl that a fatal alert
// appends to "stack_crawl.txt", the address-to-symbol lookup that names each
// frame, a hex dump and a test of whether memory is mapped.
#ifndef UTL_DEBUG_H
#define UTL_DEBUG_H

#include <cstdio>

// One record of the frame-pointer chain, as the processor lays it out.
struct stack_frame {
	stack_frame* caller;  // the saved frame pointer
	void*        ret;     // return address into the caller
};

struct symbol_info {
	char  image[1024];    // path of the image holding the address
	void* load_address;
	char  symbol[1024];
	void* symbol_address; // 0 when unknown
	char  source[1024];
	int   line;           // -1 when unknown
};

// Ignores SIGPIPE: a write to a closed socket or pipe fails instead of ending the process.
void UTL_debug_init();

// A null frame starts the crawl at the caller of this routine; a pc adds a first line for it.
void UTL_dump_stack(FILE* out, stack_frame* frame, void* pc);

void print_symbol(FILE* out, void* address);
void UTL_get_debug_symbol(void* address, symbol_info* info);
void dump_hex(FILE* out, void* data, int length);

// 1 when every byte of the range is mapped with the access asked for.
int UTL_valid_memory(void* start, unsigned int length, int need_read, int need_write);

#endif
