// The raw arrays, pulled in whole by the assembler from the files the build
// decodes out of the committed PNGs (see ZUzuvir/CMakeLists.txt).
#include "hard_texes/hard_texes.h"

#define HARD_TEX_INCBIN(sym, file)                                                                  \
	asm(".section .rodata\n.global " #sym "\n.type " #sym ", @object\n.balign 16\n" #sym ":\n" \
	    ".incbin \"" HARD_TEX_RAW_DIR "/" file "\"\n.size " #sym ", .-" #sym "\n.previous\n")

HARD_TEX_INCBIN(t_installer_dat, "t_installer.raw");
HARD_TEX_INCBIN(t_ins_back_1_dat, "t_ins_back_1.raw");
HARD_TEX_INCBIN(t_interface_dat, "t_interface.raw");
