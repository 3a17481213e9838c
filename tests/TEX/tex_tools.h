// Image fixtures and expected pixels from real tools: ImageMagick (by its full
// path: another `convert` may stand first on PATH), python3-pil and pngcheck.
#ifndef TEX_TOOLS_H
#define TEX_TOOLS_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zuz_test.h"

namespace tex_test {

inline const std::string im = "/usr/bin/convert-im6.q16";
// PNG fixtures carry no colour-management chunks unless a test asks for them.
inline const std::string im_png = " -define png:exclude-chunks=gAMA,cHRM,sRGB,bKGD,date,tIME,tEXt,zTXt,vpAg ";

inline void sh(const std::string& command) { ASSERT_EQ(zuz_test::run(command + " 2>&1"), 0) << command; }

// Runs a Python snippet with PIL's Image imported and `out` set to the file
// name, in Debian's python3 (the one with python3-pil).
inline void pil(const std::string& out, const std::string& code)
{
	sh("/usr/bin/python3 -c 'from PIL import Image\nout=\"" + out + "\"\n" + code + "'");
}

// The file's pixels as ImageMagick decodes them, bottom row first like ours;
// `map` is rgba, rgb or gray.
inline std::string magick_pixels(const std::string& file, const std::string& map = "rgba")
{
	std::string out;
	EXPECT_EQ(zuz_test::run(im + " " + file + " -flip -depth 8 " + map + ":-", &out), 0) << file;
	return out;
}

// Byte-by-byte comparison within `tolerance`; names the first difference.
inline void expect_pixels(const std::string& what, const std::string& expected, const unsigned char* got, size_t n,
                          int tolerance = 0)
{
	ASSERT_EQ(expected.size(), n) << what;
	for (size_t i = 0; i < n; ++i)
		if (abs((unsigned char)expected[i] - got[i]) > tolerance) {
			ADD_FAILURE() << what << ": byte " << i << " is " << (int)got[i] << ", expected "
			              << (int)(unsigned char)expected[i];
			return;
		}
}

// A fixed pseudo-random picture.
inline std::vector<unsigned char> noise(size_t n, unsigned seed = 1)
{
	std::vector<unsigned char> v(n);
	for (auto& b : v) b = (unsigned char)((seed = seed * 1103515245 + 12345) >> 16);
	return v;
}

}  // namespace tex_test

#endif
