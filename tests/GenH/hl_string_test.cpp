#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "GenH/hl_string.h"

static std::string its(int v, int min_digits, int plus)
{
	char buf[16];
	int_to_str(v, buf, min_digits, plus);
	return buf;
}

TEST(IntToStr, MatchesSnprintfOverRandomValues)
{
	std::mt19937 rng(7);
	std::uniform_int_distribution<int> any(INT_MIN, INT_MAX);
	for (int i = 0; i < 200000; ++i) {
		int v = i < 100 ? INT_MIN + i : i == 100 ? 0 : any(rng);
		if (i % 3 == 0) v /= 1 << (i % 31);  // short values too
		int digits = (int)(rng() % 24);
		int plus = (int)(rng() & 1);
		char want[32];
		if (v < 0)
			snprintf(want, sizeof(want), "-%0*u", digits, 0u - (unsigned)v);
		else
			snprintf(want, sizeof(want), plus ? "+%0*d" : "%0*d", digits, v);
		// The padding stops at ten digits.
		std::string w = want;
		size_t sign = (v < 0 || plus) ? 1 : 0;
		while (w.size() - sign > 10 && w[sign] == '0') w.erase(sign, 1);
		ASSERT_EQ(its(v, digits, plus), w) << "value " << v << " digits " << digits << " plus " << plus;
	}
}

TEST(StrToInt, MatchesStrtolOnValidTexts)
{
	std::mt19937 rng(11);
	for (int i = 0; i < 100000; ++i) {
		int digits = 1 + (int)(rng() % 9);
		std::string text;
		int sign = (int)(rng() % 3);
		if (sign == 1) text = "-";
		if (sign == 2) text = "+";
		for (int k = 0; k < digits; ++k) text += (char)('0' + rng() % 10);
		ASSERT_EQ(str_to_int(text), (int)strtol(text.c_str(), nullptr, 10)) << text;
	}
}

TEST(StrToInt, RejectsAndOddSigns)
{
	struct { const char* text; int want; } cases[] = {
		{"", -1}, {"12a", -1}, {"1234567890", -1}, {"-", -1}, {"+", -1}, {" 5", -1},
		{"-45", -45}, {"+7", 7}, {"123456789", 123456789}, {"1-2", 92}, {"-+", -1}, {"0", 0},
	};
	for (auto& c : cases) EXPECT_EQ(str_to_int(c.text), c.want) << '"' << c.text << '"';
}

static std::string fts(float v, int width, int decimals, int sign_col, const std::string& before = "unchanged")
{
	std::string out = before;
	flt_to_str(v, &out, width, decimals, sign_col);
	return out;
}

TEST(FltToStr, Vectors)
{
	EXPECT_EQ(fts(3.14159f, 6, 2, 0), "   3.14");
	EXPECT_EQ(fts(3.14159f, 6, 2, 1), "    3.14");
	EXPECT_EQ(fts(-3.14159f, 6, 2, 0), "-   3.14");
	EXPECT_EQ(fts(1.96f, 2, 1, 0), "2.0");
	EXPECT_EQ(fts(12.34f, 3, 1, 0), "12.3");
	EXPECT_EQ(fts(0.05f, 2, 1, 0), "0.1");
	EXPECT_EQ(fts(2.7f, 1, 0, 0), "2");
	EXPECT_EQ(fts(-0.5f, 1, 0, 0), "-0");
	EXPECT_EQ(fts(1.0f, 4, -1, 0), "unchanged");
	EXPECT_EQ(fts(123456.0f, 2, 0, 0), "123456");  // wider than the field
	// Ten decimals, the most the fraction's text holds: its digits pass the int range.
	EXPECT_EQ(fts(0.0f, 12, 10, 0), " 0.0000000000");
	EXPECT_EQ(fts(-1.25f, 12, 10, 0), "- 1.2500000000");
	EXPECT_EQ(fts(0.75f, 1, 10, 0), "0.7500000256");  // the product is single precision
	EXPECT_EQ(fts(0.5f, 1, 10, 0), "0.5000000000");
	EXPECT_EQ(fts(0.5f, 1, 14, 0), "0.5000000000");
	// NaN and values past the int range stay defined.
	EXPECT_EQ(fts(std::numeric_limits<float>::quiet_NaN(), 3, 1, 1), "  0.0");
	EXPECT_EQ(fts(1e20f, 1, 1, 0), "2147483520.0");
	EXPECT_EQ(fts(-1e20f, 1, 0, 0), "-2147483520");
	EXPECT_EQ(fts(std::numeric_limits<float>::infinity(), 1, 0, 0), "2147483520");
}

TEST(FltToStr, MatchesPrintfAwayFromTies)
{
	// Values a quarter step past a d-decimal number round the same way in any
	// rounding scheme, so printf is a fair oracle.
	std::mt19937 rng(3);
	for (int i = 0; i < 50000; ++i) {
		int decimals = 1 + (int)(rng() % 3);
		int scale = decimals == 1 ? 10 : decimals == 2 ? 100 : 1000;
		int whole = (int)(rng() % 1000);
		int frac = (int)(rng() % scale);
		float v = (float)(whole + (frac + 0.25) / scale);
		if (rng() & 1) v = -v;
		int width = decimals + 1 + (int)(rng() % 5);
		char want[64];
		snprintf(want, sizeof(want), "%s%*d.%0*d", v < 0 ? "-" : "", width - decimals, whole, decimals, frac);
		ASSERT_EQ(fts(v, width, decimals, 0), want) << v;
	}
}

TEST(CharStringToIntString, EncodesNumbersAsBytePairs)
{
	const std::pair<std::string, std::string> cases[] = {
		{"200 5", {"\x02\x4a\x01\x06", 4}}, {"  7  127 ", {"\x01\x08\x02\x01", 4}},
		{"", ""}, {"-1 2", "-1 2"}, {"=x", "=x"},
		{"1-5 3", {"\x01\x60\x01\x04", 4}},  // 1, minus, 5 is (1 * 10 - 1) * 10 + 5 = 95
	};
	for (const auto& [text, want] : cases) {
		std::string s = text;
		char_string_to_int_string(&s);
		EXPECT_EQ(s, want) << '"' << text << '"';
	}
}
