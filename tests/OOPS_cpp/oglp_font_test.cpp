// The text layout that needs no OpenGL: metrics, wrapping, number formats, labels.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "OOPS_cpp/BTN_util.h"
#include "OOPS_cpp/oglp.h"

// What the drawn tests do not show: bytes without a glyph, and codes past the table.
TEST(Font, BytesWithoutAGlyph)
{
	for (int code : {(int)'"', (int)'{', (int)'}', (int)'~', 0, 9, 10, 13, -1, -66, -128, 125, 127, 200, -1000}) {
		int col = -1, row = -1;
		OGL_glyph_cell(code, &col, &row);
		EXPECT_EQ(col * 100 + row, 0) << code;
		EXPECT_EQ(OGL_advance((char)code), 0) << code;
	}
	EXPECT_EQ(OGL_str_width("a\tb\r\n"), 13);
}

TEST(Font, WrappingBreaksOnlyBetweenWords)
{
	using lines = std::vector<std::string>;
	struct {
		const char* text;
		float wrap_w;
		int fixed;
		lines want;
	} cases[] = {
		{"", 100, 0, {}},
		{"fits", 100, 0, {"fits"}},
		// "one " ends at pen 23; "two" counts 3 x 6 more: 41.
		{"one two", 40, 0, {"one ", "two"}},
		{"one two", 41, 0, {"one two"}},
		{"a\nb", 1000, 0, {"a\n", "b"}},
		{"averyveryverylongword next", 20, 0, {"averyveryverylongword ", "next"}},
		{"in/out-of", 12, 0, {"in/", "out-", "of"}},
		{"ab  cd", 14, 0, {"ab ", " ", "cd"}},
		// A fixed advance moves the pen, not the 6 px look-ahead.
		{"aa bb", 40, 10, {"aa ", "bb"}},
		{"aa bb", 42, 10, {"aa bb"}},
	};
	for (auto& c : cases) EXPECT_EQ(OGL_wrap_lines(c.text, 100, c.wrap_w, c.fixed), c.want) << c.text << " in " << c.wrap_w;
}

TEST(Font, NumberText)
{
	const float inf = std::numeric_limits<float>::infinity();
	struct {
		float value;
		int digits, decimals;
		const char* want;
	} cases[] = {
		{12345.678f, 7, 2, "12,345.68"},
		{-0.04f, 3, 2, "-0.04"},
		{-0.0004f, 3, 2, "0.00"},
		{123456, 4, 0, "1.23x5"},
		{-123456, 4, 0, "-1.23x5"},
		{42, 5, 0, "00,042"},
		{1234567, 7, 0, "1,234,567"},
		{0.5f, 1, 0, "1"},
		{9.996f, 3, 2, "0.10x2"},  // needs 4 digits; the overflow form rounds the value to 10
		{1e9f, 4, 0, "1.00x9"},
		// Past 2^31 the digits stay right; past the form's 9.99x9 it saturates.
		{3e9f, 10, 0, "3,000,000,000"},
		{4294967296.0f, 10, 0, "4,294,967,296"},
		{1e12f, 4, 0, "9.99x9"},
		{inf, 4, 0, "9.99x9"},
		{-inf, 4, 0, "-9.99x9"},
		{std::nanf(""), 3, 2, "0.00"},
		// More integer digits than cells, however many cells: the overflow form.
		{inf, 10, 2, "9.99x9"},
		{12345678901.0f, 10, 0, "9.99x9"},  // one exponent digit: the form saturates
		{12345678901.0f, 11, 0, "12,345,678,848"},
	};
	for (auto& c : cases)
		EXPECT_EQ(OGL_number_text(c.value, c.digits, c.decimals), c.want)
			<< c.value << " in " << c.digits << "," << c.decimals;
}

TEST(Font, NumberCellsOfTheFixedCharset)
{
	std::string text;
	for (const OGL_number_cell& c : OGL_number_cells(-1234.5f, 6, 1)) text += c.c + std::to_string((int)c.dx) + " ";
	EXPECT_EQ(text, "-1 .55 ,25 010 120 230 340 450 560 ");
	EXPECT_EQ(OGL_number_cells(7, 14, 0).size(), 11u + 3u);  // at most 11 digit cells
	EXPECT_EQ(OGL_number_cells(std::nanf(""), 2, 0)[0].c, '0');
}

TEST(Font, LabelPieces)
{
	struct {
		const char* label;
		const char* left;
		const char* right;
		const char* third;
	} cases[] = {
		{"Name:", "Name:", "", ""},
		{"Port:|(1-65535)", "Port:", "(1-65535)", ""},
		{"|MB", "", "MB", ""},
		{"Path:|{The folder to install into}", "Path:", "", "The folder to install into"},
		{"Speed{help|text", "Speed", "", "help|text"},
		{"a|b|c", "a", "b|c", ""},
		{"", "", "", ""},
	};
	for (auto& c : cases) {
		std::string l = "x", r = "x", t = "x";
		BTN_expand_label(c.label, l, r, t);
		EXPECT_EQ((std::vector<std::string>{l, r, t}), (std::vector<std::string>{c.left, c.right, c.third})) << c.label;
	}
}
