#include "GenH/hl_string.h"

#include <cmath>

#include "GenC/MACIBM_alert.h"

void int_to_str(int value, char* buf, int min_digits, int plus)
{
	char* p = buf;
	// The magnitude is taken unsigned so that the most negative int has one.
	unsigned mag = (unsigned)value;
	if (value < 0) {
		*p++ = '-';
		mag = 0u - mag;
	} else if (plus) {
		*p++ = '+';
	}

	unsigned place = 1000000000u;
	for (int k = 9; k >= 0; --k, place /= 10) {
		if (k == 0 || mag >= place || min_digits >= k + 1)
			*p++ = (char)('0' + (mag / place) % 10);
	}
	*p = 0;
}

static int digit_value(char c)
{
	if (c == '+') return 1;
	if (c == '-') return -1;
	if (c >= '0' && c <= '9') return c - '0';
	return 0;
}

int str_to_int(const std::string& text)
{
	if (text.empty()) return -1;
	for (char c : text)
		if (!(c >= '0' && c <= '9') && c != '+' && c != '-') return -1;

	int sign = text[0] == '-' ? -1 : 1;
	size_t start = (text[0] == '+' || text[0] == '-') ? 1 : 0;
	size_t count = text.size() - start;
	if (count < 1 || count > 9) return -1;

	int sum = 0;
	for (size_t i = start; i < text.size(); ++i) sum = sum * 10 + digit_value(text[i]);
	return sign * sum;
}

void flt_to_str(float value, std::string* out, int width, int decimals, int sign_col)
{
	static std::string lft_str, rgt_str;
	if (decimals < 0) return;
	// The fraction's text holds at most ten digits, as int_to_str writes them.
	if (decimals > 10) decimals = 10;

	const bool negative = value < 0.0f;
	// A NaN prints as 0, and the whole part is clamped to what an int holds
	// (2147483520 is the largest float below 2^31).
	float v = std::isnan(value) ? 0.0f : value;
	const float limit = 2147483520.0f;
	if (v > limit) v = limit;
	if (v < -limit) v = -limit;

	int whole = (int)v;
	float frac = v - (float)whole;
	float scale = (float)std::pow(10.0, decimals);
	// Ten decimals scale a fraction past what an int holds.
	long long scaled = std::llround(scale * frac);

	int whole_mag = whole < 0 ? -whole : whole;
	long long scaled_mag = scaled < 0 ? -scaled : scaled;
	if (decimals > 0 && (float)scaled_mag == scale) {
		whole_mag += 1;
		scaled_mag = 0;
	}

	char buf[16];
	int_to_str(whole_mag, buf, width - decimals, 0);
	lft_str = buf;
	for (size_t i = 0; i + 1 < lft_str.size() && lft_str[i] == '0'; ++i) lft_str[i] = ' ';

	// int_to_str's text of the fraction, padded to `decimals` digits, for
	// fractions beyond the int range too.
	rgt_str.assign((size_t)decimals, '0');
	for (int i = decimals - 1; i >= 0 && scaled_mag > 0; --i, scaled_mag /= 10)
		rgt_str[(size_t)i] = (char)('0' + scaled_mag % 10);

	std::string prefix = negative ? "-" : (sign_col ? " " : "");
	*out = decimals == 0 ? prefix + lft_str : prefix + lft_str + "." + rgt_str;
}

void char_string_to_int_string(std::string* text)
{
	const std::string& in = *text;
	if (in.empty() || in[0] == '-' || in[0] == '=') return;

	std::string result;
	size_t i = 0;
	while (i < in.size()) {
		if (in[i] == ' ') {
			++i;
			continue;
		}
		int n = 0;
		for (int k = 0; k < 3 && i < in.size() && in[i] != ' '; ++k, ++i) n = n * 10 + digit_value(in[i]);
		if (n < 0) continue;
		result += (char)(n / 127 + 1);
		result += (char)(n % 127 + 1);
	}
	*text = result;
}

void str_check_len(const std::string& text)
{
	if (text.size() > (size_t)str_max_len)
		__MACIBM_alert(0, "String too long!", text, "", "", t_exit, "ZUzuvir/GenH/hl_string", 137);
}
