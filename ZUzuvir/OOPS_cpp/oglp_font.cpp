// The font metrics and the parts of text layout that need no OpenGL.
#include <cfloat>
#include <cmath>

#include "OOPS_cpp/oglp.h"
#include "hard_texes/hard_tex_layout.h"

namespace {

// The sheet's glyphs by byte; every byte without a glyph keeps the space's
// cell and advances 0.
struct metrics {
	signed char column[256] = {}, row[256] = {}, advance[256] = {};
	metrics()
	{
		for (const hard_tex::glyph& g : hard_tex::glyphs) {
			column[g.byte] = g.col;
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
	// The count goes on past ten digits, so that a larger value takes the
	// overflow form instead of showing its lowest ten digits.
	for (double limit = 1e10; s.needed >= 10 && (double)s.scaled >= limit; limit *= 10) ++s.needed;
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
