// TEX_load_bmp on any bytes; the first byte picks the format and the options,
// and whether the pixels go to a caller's block.
#include <vector>

#include "TEX/TEX_bmp.h"
#include "UTL/nedmalloc.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	if (size < 1) return 0;
	static const unsigned long formats[] = {GL_RGB, GL_RGBA, GL_ALPHA, GL_RGBA};
	const uint8_t opt = data[0];
	fuzz_map m(data + 1, size - 1);
	std::vector<unsigned char> block(opt & 0x10 ? 64 * 64 : 0);
	unsigned char* pixels = block.empty() ? nullptr : block.data();
	TEX_image_desc desc;
	try {
		TEX_load_bmp("fuzz.bmp", &m, pixels, formats[opt & 3], opt & 0x20 ? 64 : 0, opt & 4, desc, block.size());
	} catch (const fuzz_fatal_alert&) {
	}
	if (block.empty() && pixels) nedfree(pixels);  // the allocator takes no null block
	return 0;
}
