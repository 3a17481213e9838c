// Number-to-text helpers used instead of the C library's formatted printing.
// flt_to_str keeps scratch strings of its own: not for two threads at once.
#ifndef HL_STRING_H
#define HL_STRING_H

#include <string>

// Decimal text of value into buf (12 bytes at least): '-' for negatives, '+' when
// plus is set, zero-padded to min_digits (at most 10 digits).
void int_to_str(int value, char* buf, int min_digits, int plus);

// Decimal text to int; -1 for anything that is not a sign and 1 to 9 digits.
int str_to_int(const std::string& text);

// Fixed-point text of value: the whole part right-aligned in width - decimals
// columns, then "." and exactly `decimals` digits. A negative `decimals` leaves
// *out as it was.
void flt_to_str(float value, std::string* out, int width, int decimals, int sign_col);

// Replaces a line of blank-separated numbers by two code bytes per number.
void char_string_to_int_string(std::string* text);

// Paths pass through C buffers of 500 bytes: a text longer than str_max_len is
// the fatal alert "String too long!".
const int str_max_len = 499;
void str_check_len(const std::string& text);

// ASCII letter case folding: other bytes (UTF-8 included) are left alone, so a
// folded name keeps its length.
inline unsigned char ascii_lower(unsigned char c)
{
	return (c >= 'A' && c <= 'Z') ? (unsigned char)(c + 32) : c;
}

// The n bytes at a and b are equal when ASCII letter case is ignored.
inline bool same_ignoring_case(const char* a, const char* b, size_t n)
{
	for (size_t i = 0; i < n; ++i)
		if (ascii_lower((unsigned char)a[i]) != ascii_lower((unsigned char)b[i])) return false;
	return true;
}

#endif
