// The font metrics and the parts of text layout that need no OpenGL.
#include <cfloat>
#include <cmath>

#include "OOPS_cpp/oglp.h"

namespace {

struct glyph {
	unsigned char byte;
	signed char   column, row, advance;
};

// The glyphs of the interface sheet: byte, cell column and row, advance.
const glyph glyphs[] = {
	{0x20, 0, 0, 3},   {0x21, 0, 3, 4},   {0x23, 2, 3, 6},   {0x24, 3, 3, 6},   {0x25, 4, 3, 11},  {0x26, 6, 3, 8},
	{0x27, 18, 3, 3},  {0x28, 8, 3, 4},   {0x29, 9, 3, 4},   {0x2A, 7, 3, 6},   {0x2B, 12, 3, 7},  {0x2C, 3, 4, 2},
	{0x2D, 10, 3, 4},  {0x2E, 1, 4, 2},   {0x2F, 5, 4, 3},   {0x30, 1, 0, 6},   {0x31, 2, 0, 6},   {0x32, 3, 0, 6},
	{0x33, 4, 0, 6},   {0x34, 5, 0, 6},   {0x35, 6, 0, 6},   {0x36, 7, 0, 6},   {0x37, 8, 0, 6},   {0x38, 9, 0, 6},
	{0x39, 10, 0, 6},  {0x3A, 19, 3, 3},  {0x3B, 20, 3, 3},  {0x3C, 0, 4, 7},   {0x3D, 13, 3, 7},  {0x3E, 2, 4, 7},
	{0x3F, 4, 4, 6},   {0x40, 1, 3, 9},   {0x41, 11, 0, 8},  {0x42, 13, 0, 7},  {0x43, 15, 0, 7},  {0x44, 17, 0, 8},
	{0x45, 19, 0, 6},  {0x46, 0, 1, 6},   {0x47, 2, 1, 8},   {0x48, 4, 1, 8},   {0x49, 6, 1, 3},   {0x4A, 8, 1, 4},
	{0x4B, 10, 1, 7},  {0x4C, 12, 1, 6},  {0x4D, 14, 1, 10}, {0x4E, 16, 1, 8},  {0x4F, 18, 1, 9},  {0x50, 20, 1, 6},
	{0x51, 1, 2, 9},   {0x52, 3, 2, 7},   {0x53, 5, 2, 6},   {0x54, 7, 2, 6},   {0x55, 9, 2, 8},   {0x56, 11, 2, 7},
	{0x57, 13, 2, 11}, {0x58, 15, 2, 7},  {0x59, 17, 2, 7},  {0x5A, 19, 2, 6},  {0x5B, 14, 3, 4},  {0x5C, 17, 3, 3},
	{0x5D, 15, 3, 4},  {0x5E, 5, 3, 6},   {0x5F, 11, 3, 6},  {0x60, 6, 4, 3},   {0x61, 12, 0, 6},  {0x62, 14, 0, 7},
	{0x63, 16, 0, 5},  {0x64, 18, 0, 7},  {0x65, 20, 0, 6},  {0x66, 1, 1, 4},   {0x67, 3, 1, 7},   {0x68, 5, 1, 7},
	{0x69, 7, 1, 3},   {0x6A, 9, 1, 3},   {0x6B, 11, 1, 6},  {0x6C, 13, 1, 3},  {0x6D, 15, 1, 10}, {0x6E, 17, 1, 7},
	{0x6F, 19, 1, 7},  {0x70, 0, 2, 7},   {0x71, 2, 2, 7},   {0x72, 4, 2, 4},   {0x73, 6, 2, 4},   {0x74, 8, 2, 4},
	{0x75, 10, 2, 7},  {0x76, 12, 2, 6},  {0x77, 14, 2, 9},  {0x78, 16, 2, 6},  {0x79, 18, 2, 6},  {0x7A, 20, 2, 6},
	{0x7C, 16, 3, 3},  {0xBF, 20, 4, 6},  {0xC1, 8, 4, 6},   {0xC9, 10, 4, 6},  {0xCD, 12, 4, 6},  {0xD1, 18, 4, 6},
	{0xD3, 14, 4, 6},  {0xDA, 16, 4, 6},  {0xE1, 9, 4, 6},   {0xE9, 11, 4, 6},  {0xED, 13, 4, 6},  {0xF1, 19, 4, 6},
	{0xF3, 15, 4, 6},  {0xFA, 17, 4, 6},  {0xFB, 7, 4, 3},
};

// By byte; every byte without a glyph keeps the space's cell and advances 0.
struct metrics {
	signed char column[256] = {}, row[256] = {}, advance[256] = {};
	metrics()
	{
		for (const glyph& g : glyphs) {
			column[g.byte] = g.column;
			row[g.byte] = g.row;
			advance[g.byte] = g.advance;
		}
	}
};
const metrics font;

bool breaks_after(char c)
{
	return c == ' ' || c == '-' || c == '/';
}

}  // namespace

void OGL_glyph_cell(int code, int* column, int* row)
{
	// The table covers codes -65..124 (bytes 0xBF..0xFF and 0x00..0x7C).
	const int slot = code + 65;
	const unsigned char b = (unsigned char)code;
	const bool in_table = slot >= 0 && slot <= 189;
	*column = in_table ? font.column[b] : 0;
	*row = in_table ? font.row[b] : 0;
}

int OGL_advance(char c)
{
	return font.advance[(unsigned char)c];
}

int OGL_str_width(const std::string& text)
{
	int w = 0;
	for (char c : text) w += OGL_advance(c);
	return w;
}

std::vector<std::string> OGL_wrap_lines(const std::string& text, float x, float wrap_w, int fixed)
{
	std::vector<std::string> lines;
	const float limit = x + wrap_w;
	std::string line;
	float pen = x;
	const size_t n = text.size();
	size_t i = 0;
	while (i < n) {
		const char c = text[i];
		line += c;
		pen += fixed > 0 ? (float)fixed : (float)OGL_advance(c);
		if (c == '\n' || i == n - 1) {
			lines.push_back(line);
			line.clear();
			pen = x;
			++i;
			continue;
		}
		if (!breaks_after(c)) {
			++i;
			continue;
		}
		const size_t j = i + 1;
		float w = pen;
		if (!breaks_after(text[j])) {
			size_t k = j;
			while (k < n && !breaks_after(text[k])) ++k;
			w = pen + 6.0f * (float)(k - j);
		}
		if (w > limit) {
			lines.push_back(line);
			line.clear();
			pen = x;
		}
		i = j;
	}
	return lines;
}

namespace {

// The magnitude of a number, scaled by its decimals and rounded, in a form that
// every digit can be read from. A NaN counts as 0 and an infinity as the largest
// float, so that nothing unbounded reaches the loops or the digit arithmetic.
struct scaled_number {
	float a;        // |value|
	float scaled;   // a x 10^decimals, single precision
	float rounded;  // scaled + 0.5
	bool  minus;
	int   needed;   // integer digits of scaled, at least decimals + 1
};

scaled_number scale(float value, int decimals)
{
	if (std::isnan(value)) value = 0;
	if (std::isinf(value)) value = value < 0 ? -FLT_MAX : FLT_MAX;
	scaled_number s;
	s.a = fabsf(value);
	s.scaled = s.a * powf(10.0f, (float)decimals);
	if (!(s.scaled <= FLT_MAX)) s.scaled = FLT_MAX;
	s.rounded = s.scaled + 0.5f;
	s.minus = value < 0 && s.scaled > 0.1f;
	static const float above[] = {9, 99, 999, 9999, 99999, 999999, 9999999, 1e8f, 1e9f};
	s.needed = 1;
	for (float limit : above)
		if (s.scaled > limit) ++s.needed;
	if (s.needed < decimals + 1) s.needed = decimals + 1;
	return s;
}

char digit(double v)
{
	return v >= 0 && v <= 9 ? (char)('0' + (int)v) : '0';
}

// The digit of rounded at the place 10^power, taken in double so that values
// past 2^31 keep their digits.
char digit_at(float rounded, int power)
{
	return digit(fmod(floor((double)rounded / pow(10.0, power)), 10.0));
}

}  // namespace

std::string OGL_number_text(float value, int digits, int decimals)
{
	const scaled_number s = scale(value, decimals);
	std::string out = s.minus ? "-" : "";
	if (digits < s.needed) {
		// m / 100 times ten to the power e; past 9.99x9 the form has no room.
		float a = s.a;
		int e = 2;
		while (a >= 999 && e <= 9) {
			a /= 10;
			++e;
		}
		double m = round((double)a);
		if (e > 9 || a >= 999) {
			m = 999;
			e = 9;
		}
		const int mi = (int)m;
		out += digit(mi / 100 % 10);
		out += '.';
		out += digit(mi / 10 % 10);
		out += digit(mi % 10);
		out += 'x';
		out += digit(e);
		return out;
	}
	const int n = digits - decimals;
	for (int k = 0; k < digits; ++k) {
		const int p = digits - k;
		const int to_come = p - decimals;
		if (p == decimals && n > 0) out += '.';
		if ((to_come == 3 || to_come == 6 || to_come == 9) && n > to_come) out += ',';
		out += digit_at(s.rounded, p - 1);
	}
	return out;
}

std::vector<OGL_number_cell> OGL_number_cells(float value, int digits, int decimals)
{
	const scaled_number s = scale(value, decimals);
	std::vector<OGL_number_cell> cells;
	if (s.minus) cells.push_back({'-', 1});
	const int n = digits - decimals;
	if (decimals >= 1) cells.push_back({'.', (n + 0.5f) * 10});
	for (int group = 3; group <= 9; group += 3)
		if (n > group) cells.push_back({',', (n - group + 0.5f) * 10});
	const int count = digits < 11 ? digits : 11;
	for (int k = 1; k <= count; ++k) cells.push_back({digit_at(s.rounded, count - k), 10.0f * k});
	return cells;
}
