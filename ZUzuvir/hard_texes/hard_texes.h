// The three images built into the program, as raw RGBA rows (first row = the
// texture's first row, t = 0), and their upload at start-up.
#ifndef HARD_TEXES_H
#define HARD_TEXES_H

extern "C" {
extern const unsigned char t_installer_dat[];   // 1010 x 764 declared, laid out in rows of 1024
extern const unsigned char t_ins_back_1_dat[];  // 1024 x 768
extern const unsigned char t_interface_dat[];   // 512 x 512
}

const int t_installer_bytes = 1010 * 764 * 4;   // 753 full rows of 1024 and 568 pixels
const int t_ins_back_1_bytes = 1024 * 768 * 4;
const int t_interface_bytes = 512 * 512 * 4;

// Uploads them as refs 393, 394 and 392, in that order, through scratch_array,
// which is left holding the interface sheet (512 x 512) for the palette samples.
void recall_ins_texes();

#endif
