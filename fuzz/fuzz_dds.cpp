// TEX_load_dds on any bytes; an accepted compressed image is then decoded and
// turned upside down (a copy: the mapping is read-only in the program).
#include <vector>

#include "TEX/TEX_dds.h"
#include "TEX/TEX_utils.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	fuzz_map m(data, size);
	const unsigned char* pixels = nullptr;
	TEX_image_desc desc;
	if (!TEX_load_dds("fuzz.dds", &m, pixels, desc)) return 0;
	const long long bytes = TEX_bytes_needed_for_image(desc);
	if ((long long)desc.width * desc.height > (1 << 20)) return 0;
	std::vector<unsigned char> copy(pixels, pixels + bytes);
	if (TEX_is_dxt(desc.format)) {
		std::vector<unsigned char> rgba((size_t)desc.width * desc.height * 4);
		TEX_decode_s3tc(desc, desc, copy.data(), rgba.data());
	}
	TEX_flip_y(desc, copy.data());
	return 0;
}
