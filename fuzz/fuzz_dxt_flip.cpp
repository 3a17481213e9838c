// TEX_flip_y on any blocks: the first four bytes pick the format (the three DXT
// ones and an uncompressed one), the size up to 64 x 64 and a mip chain; the
// rest, cut or padded with zeros, is the image. Where whole blocks only move
// (heights of 1 to 3 and multiples of 4, no chain), two flips give the image back.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "TEX/TEX_dds.h"
#include "TEX/TEX_utils.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	if (size < 4) return 0;
	static const int formats[] = {GL_COMPRESSED_RGB_S3TC_DXT1_EXT, GL_COMPRESSED_RGBA_S3TC_DXT1_EXT,
	                              GL_COMPRESSED_RGBA_S3TC_DXT3_EXT, GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, GL_RGBA};
	TEX_image_desc desc{};
	desc.format = formats[data[0] % 5];
	desc.width = 1 + data[1] % 64;
	desc.height = 1 + data[2] % 64;
	desc.mips = data[3] & 1;
	const size_t bytes = (size_t)TEX_bytes_needed_for_image(desc);
	std::vector<unsigned char> image(bytes, 0), before;
	memcpy(image.data(), data + 4, std::min(bytes, size - 4));
	before = image;

	TEX_flip_y(desc, image.data());
	if (!desc.mips && (desc.height < 4 || desc.height % 4 == 0)) {
		TEX_flip_y(desc, image.data());
		if (image != before) abort();
	}
	return 0;
}
