// Where things stand on the built-in images: shared by the artwork generator
// (tools/hard_tex_gen) and the code that draws or samples them. Coordinates are
// texels with (0, 0) at the first texel of the raw array, which is the bottom
// left of the picture (texture coordinate t = 0), y growing upwards.
#ifndef HARD_TEX_LAYOUT_H
#define HARD_TEX_LAYOUT_H

namespace hard_tex {

struct rect {
	int x, y, w, h;
};

// ---- the interface sheet, ref 392, 512 x 512

const int sheet_size = 512;

// The font of charsets 100 and 102: 21 x 5 cells of 14 x 15 from (0, 0); row 0
// of a cell is the glyph's bottom. Cell (0, 0) is the space and stays blank.
const int cell_w = 14, cell_h = 15, cell_cols = 21, cell_rows = 5;
const int glyph_baseline = 3;  // texel rows below the baseline, for descenders

struct glyph {
	unsigned char byte;  // the character code
	unsigned char col, row;
	unsigned char advance;  // pixels; the ink stays within it
	unsigned int  unicode;  // what the generator draws
};

// Bytes 0xBF and up are the Latin-1 letters they stand for, except 0xFB: its
// advance of 3 and its place among the Spanish letters make it the inverted
// exclamation mark (U+00A1), not the u with circumflex of Latin-1.
// clang-format off
const glyph glyphs[] = {
	{0x20, 0, 0, 3, 0x20},  {0x21, 0, 3, 4, '!'},   {0x23, 2, 3, 6, '#'},   {0x24, 3, 3, 6, '$'},
	{0x25, 4, 3, 11, '%'},  {0x26, 6, 3, 8, '&'},   {0x27, 18, 3, 3, '\''}, {0x28, 8, 3, 4, '('},
	{0x29, 9, 3, 4, ')'},   {0x2A, 7, 3, 6, '*'},   {0x2B, 12, 3, 7, '+'},  {0x2C, 3, 4, 2, ','},
	{0x2D, 10, 3, 4, '-'},  {0x2E, 1, 4, 2, '.'},   {0x2F, 5, 4, 3, '/'},   {0x30, 1, 0, 6, '0'},
	{0x31, 2, 0, 6, '1'},   {0x32, 3, 0, 6, '2'},   {0x33, 4, 0, 6, '3'},   {0x34, 5, 0, 6, '4'},
	{0x35, 6, 0, 6, '5'},   {0x36, 7, 0, 6, '6'},   {0x37, 8, 0, 6, '7'},   {0x38, 9, 0, 6, '8'},
	{0x39, 10, 0, 6, '9'},  {0x3A, 19, 3, 3, ':'},  {0x3B, 20, 3, 3, ';'},  {0x3C, 0, 4, 7, '<'},
	{0x3D, 13, 3, 7, '='},  {0x3E, 2, 4, 7, '>'},   {0x3F, 4, 4, 6, '?'},   {0x40, 1, 3, 9, '@'},
	{0x41, 11, 0, 8, 'A'},  {0x42, 13, 0, 7, 'B'},  {0x43, 15, 0, 7, 'C'},  {0x44, 17, 0, 8, 'D'},
	{0x45, 19, 0, 6, 'E'},  {0x46, 0, 1, 6, 'F'},   {0x47, 2, 1, 8, 'G'},   {0x48, 4, 1, 8, 'H'},
	{0x49, 6, 1, 3, 'I'},   {0x4A, 8, 1, 4, 'J'},   {0x4B, 10, 1, 7, 'K'},  {0x4C, 12, 1, 6, 'L'},
	{0x4D, 14, 1, 10, 'M'}, {0x4E, 16, 1, 8, 'N'},  {0x4F, 18, 1, 9, 'O'},  {0x50, 20, 1, 6, 'P'},
	{0x51, 1, 2, 9, 'Q'},   {0x52, 3, 2, 7, 'R'},   {0x53, 5, 2, 6, 'S'},   {0x54, 7, 2, 6, 'T'},
	{0x55, 9, 2, 8, 'U'},   {0x56, 11, 2, 7, 'V'},  {0x57, 13, 2, 11, 'W'}, {0x58, 15, 2, 7, 'X'},
	{0x59, 17, 2, 7, 'Y'},  {0x5A, 19, 2, 6, 'Z'},  {0x5B, 14, 3, 4, '['},  {0x5C, 17, 3, 3, '\\'},
	{0x5D, 15, 3, 4, ']'},  {0x5E, 5, 3, 6, '^'},   {0x5F, 11, 3, 6, '_'},  {0x60, 6, 4, 3, '`'},
	{0x61, 12, 0, 6, 'a'},  {0x62, 14, 0, 7, 'b'},  {0x63, 16, 0, 5, 'c'},  {0x64, 18, 0, 7, 'd'},
	{0x65, 20, 0, 6, 'e'},  {0x66, 1, 1, 4, 'f'},   {0x67, 3, 1, 7, 'g'},   {0x68, 5, 1, 7, 'h'},
	{0x69, 7, 1, 3, 'i'},   {0x6A, 9, 1, 3, 'j'},   {0x6B, 11, 1, 6, 'k'},  {0x6C, 13, 1, 3, 'l'},
	{0x6D, 15, 1, 10, 'm'}, {0x6E, 17, 1, 7, 'n'},  {0x6F, 19, 1, 7, 'o'},  {0x70, 0, 2, 7, 'p'},
	{0x71, 2, 2, 7, 'q'},   {0x72, 4, 2, 4, 'r'},   {0x73, 6, 2, 4, 's'},   {0x74, 8, 2, 4, 't'},
	{0x75, 10, 2, 7, 'u'},  {0x76, 12, 2, 6, 'v'},  {0x77, 14, 2, 9, 'w'},  {0x78, 16, 2, 6, 'x'},
	{0x79, 18, 2, 6, 'y'},  {0x7A, 20, 2, 6, 'z'},  {0x7C, 16, 3, 3, '|'},  {0xBF, 20, 4, 6, 0xBF},
	{0xC1, 8, 4, 6, 0xC1},  {0xC9, 10, 4, 6, 0xC9}, {0xCD, 12, 4, 6, 0xCD}, {0xD1, 18, 4, 6, 0xD1},
	{0xD3, 14, 4, 6, 0xD3}, {0xDA, 16, 4, 6, 0xDA}, {0xE1, 9, 4, 6, 0xE1},  {0xE9, 11, 4, 6, 0xE9},
	{0xED, 13, 4, 6, 0xED}, {0xF1, 19, 4, 6, 0xF1}, {0xF3, 15, 4, 6, 0xF3}, {0xFA, 17, 4, 6, 0xFA},
	{0xFB, 7, 4, 3, 0xA1},
};
// clang-format on
const int glyph_count = sizeof(glyphs) / sizeof(glyphs[0]);  // 105

// The framed text field of frame type 9: a left cap, a middle stretched to the
// width, a right cap, side by side in one strip.
const rect frame9 = {0, 96, 24, 18};
const int  frame9_cap = 6;  // width of each cap; the middle is the rest

// Palette entries sampled at start-up: one texel each, in the middle of a 4 x 4
// swatch, entries 34..38 and 40..47 (39 is the mean of 35 and 38).
struct swatch {
	int           entry;
	int           x, y;  // the sampled texel
	unsigned char r, g, b;
};
// clang-format off
const swatch swatches[] = {
	{34,  2, 130,  28,  36,  48},  // window background
	{35,  6, 130,  52,  64,  82},  // panel
	{36, 10, 130,  82,  97, 117},  // raised panel
	{37, 14, 130,  13,  15,  20},  // dark edge
	{38, 18, 130, 140, 158, 178},  // light edge
	{40, 22, 130,  64, 140, 230},  // accent
	{41, 26, 130,  89, 191, 102},  // good
	{42, 30, 130, 242, 178,  51},  // caution
	{43, 34, 130, 217, 224, 235},  // labels
	{44, 38, 130, 153, 163, 178},  // dim text
	{45, 42, 130, 230,  77,  64},  // failure
	{46, 46, 130, 255, 255, 255},  // field text
	{47, 50, 130,  77, 115, 179},  // selection
};
// clang-format on
const int swatch_count = sizeof(swatches) / sizeof(swatches[0]);

// ---- the installer window, ref 393: 1010 x 764 pixels' worth of bytes, laid
// out in rows of 1024; the picture is the window, 1010 x 753, in rows 0..752.

const int installer_w = 1010, installer_h = 764, installer_row = 1024;
const int installer_pic_h = 753;
const rect installer_title = {0, 705, 1010, 48};   // title band
const rect installer_panel = {24, 120, 962, 560};  // the list and message area
const rect installer_bar = {24, 64, 740, 28};      // progress bar groove
const rect installer_button = {790, 56, 196, 44};  // the install button's plate

// ---- the background, ref 394: 1024 x 768

const int back_w = 1024, back_h = 768;

}  // namespace hard_tex

#endif
