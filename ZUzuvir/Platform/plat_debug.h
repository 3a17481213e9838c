// Symbols and source lines of code addresses, read from the loaded ELF images
// and their DWARF records (the stand-in for the Mach-O symbol tables).
#ifndef PLAT_DEBUG_H
#define PLAT_DEBUG_H

// The function symbol that holds an address: its name and start. False when
// the image has no symbol for it. The name stays valid for the whole run.
bool plat_debug_symbol(const void* address, const char** name, void** start);

// The source file and line of an address (the innermost inlined one). False
// when the image has no line records for it. The file stays valid for the run.
bool plat_debug_line(const void* address, const char** file, int* line);

#endif
