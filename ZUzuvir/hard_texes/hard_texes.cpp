#include "hard_texes/hard_texes.h"

#include <cstring>

#include "GenC/hl_globals.h"
#include "OOPS_cpp/tman.h"

// The upload reads a power-of-two texture from the buffer: everything past the
// image's bytes is cleared, so it is transparent black whatever used the buffer before.
static void load_hard_tex(int ref, int dx, int dy, const unsigned char* data, int bytes)
{
	scratch_dx = dx;
	scratch_dy = dy;
	memcpy(scratch_array, data, bytes);
	memset(scratch_array + bytes, 0, 1024 * 1024 * 4 - bytes);
	tman.load_texture(tex_fail_fatal, ref, 0x502, tex_load_now, "scratch_array:hardwired textures");
}

void recall_ins_texes()
{
	// The installer window's bytes are rows of 1024: it is read as the texture's rows.
	load_hard_tex(tex_installer_ref, 1010, 764, t_installer_dat, t_installer_bytes);
	load_hard_tex(tex_ins_back_ref, 1024, 768, t_ins_back_1_dat, t_ins_back_1_bytes);
	load_hard_tex(tex_interface_ref, 512, 512, t_interface_dat, t_interface_bytes);
}
