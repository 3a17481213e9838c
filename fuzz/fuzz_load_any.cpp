// TEX_load_any_ext on any bytes, written as the file it finds by name: the
// first byte picks ".png" or ".bmp", the format and the row width.
#include <unistd.h>

#include "GenC/hl_globals.h"
#include "TEX/TEX_utils.h"
#include "UTL/nedmalloc.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	if (size < 1) return 0;
	if (app_path.empty()) app_path = fuzz_scratch();
	static const unsigned long formats[] = {GL_RGB, GL_RGBA, GL_ALPHA, GL_RGBA};
	const uint8_t opt = data[0];
	const std::string png = app_path + "img.png", bmp = app_path + "img.bmp";
	fuzz_write(opt & 4 ? bmp : png, data + 1, size - 1);
	unsigned char* pixels = nullptr;
	TEX_image_desc desc;
	try {
		TEX_load_any_ext("img.dds", pixels, formats[opt & 3], opt & 8 ? 64 : 0, opt & 16, desc);
	} catch (const fuzz_fatal_alert&) {
	}
	if (pixels) nedfree(pixels);  // the allocator takes no null block
	unlink((opt & 4 ? bmp : png).c_str());
	return 0;
}
