// Turns a PNG of the built-in images into the raw array the program embeds:
//   hard_tex_raw <in.png> <out.raw> <bytes>
// 8-bit RGBA, rows bottom-up (the texture's first row first), cut after `bytes`.
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv)
{
	if (argc != 4) {
		fprintf(stderr, "usage: hard_tex_raw <in.png> <out.raw> <bytes>\n");
		return 2;
	}
	png_image img = {};
	img.version = PNG_IMAGE_VERSION;
	if (!png_image_begin_read_from_file(&img, argv[1])) {
		fprintf(stderr, "hard_tex_raw: %s: %s\n", argv[1], img.message);
		return 1;
	}
	img.format = PNG_FORMAT_RGBA;
	std::vector<unsigned char> px(PNG_IMAGE_SIZE(img));
	// A negative row stride stores the bottom row first.
	if (!png_image_finish_read(&img, nullptr, px.data(), -(png_int_32)PNG_IMAGE_ROW_STRIDE(img), nullptr)) {
		fprintf(stderr, "hard_tex_raw: %s: %s\n", argv[1], img.message);
		return 1;
	}
	const size_t bytes = strtoul(argv[3], nullptr, 10);
	if (bytes > px.size()) {
		fprintf(stderr, "hard_tex_raw: %s holds %zu bytes, not %zu\n", argv[1], px.size(), bytes);
		return 1;
	}
	FILE* out = fopen(argv[2], "wb");
	if (!out || fwrite(px.data(), 1, bytes, out) != bytes || fclose(out) != 0) {
		fprintf(stderr, "hard_tex_raw: cannot write %s\n", argv[2]);
		return 1;
	}
	return 0;
}
