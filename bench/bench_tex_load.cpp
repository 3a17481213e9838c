// Texture loading: 200 PNG files of 512 x 512 through tman_class::load_texture,
// against decoding them with libpng and uploading them with plain GL calls.
// Runs on the headless context (Mesa's software renderer unless a GPU is there).
//   bench_tex_load [folder for the files]
#include <png.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "GenC/MACIBM_context.h"
#include "GenC/hl_globals.h"
#include "OGL/OGL_extensions.h"
#include "OOPS_cpp/tman.h"

namespace {

const int count = 200, side = 512, first_ref = 500;

// Smooth colour fields with a little noise: about as compressible as artwork.
void write_images(const std::string& folder)
{
	std::vector<unsigned char> px((size_t)side * side * 4);
	unsigned seed = 1;
	for (int i = 0; i < count; ++i) {
		for (int y = 0; y < side; ++y)
			for (int x = 0; x < side; ++x) {
				unsigned char* p = &px[((size_t)y * side + x) * 4];
				seed = seed * 1103515245 + 12345;
				const int n = (seed >> 16) & 15;
				p[0] = (unsigned char)(x / 2 + i + n);
				p[1] = (unsigned char)(y / 2 + n);
				p[2] = (unsigned char)((x + y) / 4 + 3 * i);
				p[3] = 255;
			}
		png_image img = {};
		img.version = PNG_IMAGE_VERSION;
		img.width = img.height = side;
		img.format = PNG_FORMAT_RGBA;
		const std::string path = folder + "/img" + std::to_string(i) + ".png";
		if (!png_image_write_to_file(&img, path.c_str(), 0, px.data(), 0, nullptr)) {
			fprintf(stderr, "cannot write %s\n", path.c_str());
			exit(1);
		}
	}
}

double seconds_since(std::chrono::steady_clock::time_point t0)
{
	return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double run_framework(const std::string& folder)
{
	const auto t0 = std::chrono::steady_clock::now();
	for (int i = 0; i < count; ++i)
		tman.load_texture(tex_fail_silent, first_ref + i, 2, tex_load_now, folder + "/img" + std::to_string(i) + ".png");
	glFinish();
	const double s = seconds_since(t0);
	for (int i = 0; i < count; ++i) tman.unload_texture(first_ref + i);
	return s;
}

double run_plain(const std::string& folder)
{
	std::vector<GLuint> names(count);
	glGenTextures(count, names.data());
	std::vector<unsigned char> px((size_t)side * side * 4);
	const auto t0 = std::chrono::steady_clock::now();
	for (int i = 0; i < count; ++i) {
		png_image img = {};
		img.version = PNG_IMAGE_VERSION;
		const std::string path = folder + "/img" + std::to_string(i) + ".png";
		if (!png_image_begin_read_from_file(&img, path.c_str())) exit(1);
		img.format = PNG_FORMAT_RGBA;
		px.resize(PNG_IMAGE_SIZE(img));
		png_image_finish_read(&img, nullptr, px.data(), -(png_int_32)PNG_IMAGE_ROW_STRIDE(img), nullptr);
		glBindTexture(GL_TEXTURE_2D, names[i]);
		glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, img.width, img.height, 0, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
		glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
		glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
	}
	glFinish();
	const double s = seconds_since(t0);
	glDeleteTextures(count, names.data());
	tman_class::reset_bind();
	return s;
}

}  // namespace

int main(int argc, char** argv)
{
	std::string folder = argc > 1 ? argv[1] : "";
	if (folder.empty()) {
		char tmpl[] = "/tmp/bench_tex_XXXXXX";
		folder = mkdtemp(tmpl);
	}
	unsetenv("DISPLAY");
	MACIBM_init_tables();
	MACIBM_make_context();
	glExt.init_extensions();
	write_images(folder);

	double ours = 1e9, plain = 1e9;
	for (int round = 0; round < 3; ++round) {
		plain = std::min(plain, run_plain(folder));
		ours = std::min(ours, run_framework(folder));
	}
	printf("%d PNG textures of %d x %d, best of 3 rounds\n", count, side, side);
	printf("  load_texture             %8.3f s\n", ours);
	printf("  libpng + glTexImage2D    %8.3f s\n", plain);
	printf("  ratio                    %8.3f (overhead %+.1f%%)\n", ours / plain, (ours / plain - 1) * 100);
	if (argc < 2) {
		for (int i = 0; i < count; ++i) remove((folder + "/img" + std::to_string(i) + ".png").c_str());
		remove(folder.c_str());
	}
	return 0;
}
