// The memory report "MemoryLog.txt": the system's view of the process's memory,
// a map of the whole address space, and the allocator's statistics.
#ifndef UTL_MEMORY_REPORT_H
#define UTL_MEMORY_REPORT_H

#include <cstdio>

#include "Platform/plat_memory.h"
#include "UTL/nedmalloc.h"

// The first report of a run replaces the file, later ones are appended.
void dump_mem_stats(char* label);
void DumpMemCmd();

// The unit rule of every amount: a number and one of "B", "K", "M", "G".
unsigned int mem_to_number(unsigned long long bytes);
char mem_to_suffix(unsigned long long bytes);
const char* sm_string(unsigned char mode);

// The report itself, from figures already taken.
void write_mem_report(FILE* out, const char* label, const plat_mem_figures& sys, const mallinfo& ned);

#endif
