// PNG decoding of a 2048 x 2048 RGBA image through TEX_load_png against
// libpng's own reading in a plain loop, and DXT5 compression of the same image
// through TEX_encode_s3tc against libsquish called directly. The file goes to
// $TMPDIR and is removed after. libsquish spreads over OpenMP threads: on a busy
// machine OMP_NUM_THREADS=1 gives the steadier ratio.
//
//   bench_tex [size=2048]
#include <png.h>
#include <squish.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "OOPS_cpp/xmap.h"
#include "TEX/TEX_dds.h"
#include "TEX/TEX_png.h"
#include "UTL/nedmalloc.h"

static double now()
{
	return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

template <class F>
static double best_of(int reps, F f)
{
	double best = 1e30;
	for (int r = 0; r < reps; ++r) {
		double t0 = now();
		f();
		best = std::min(best, now() - t0);
	}
	return best;
}

struct mem_reader {
	const char* at;
	const char* end;
};

static void read_mem(png_structp png, png_bytep dest, png_size_t n)
{
	mem_reader* r = (mem_reader*)png_get_io_ptr(png);
	if ((size_t)(r->end - r->at) < n) png_error(png, "short");
	memcpy(dest, r->at, n);
	r->at += n;
}

// The plain loop: map, read the header, read every row into one block.
static void libpng_plain(const std::string& path, int size)
{
	xmap_class m(path);
	mem_reader r = {m.base, m.end};
	png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
	png_infop info = png_create_info_struct(png);
	if (setjmp(png_jmpbuf(png))) abort();
	png_set_read_fn(png, &r, read_mem);
	png_read_info(png, info);
	unsigned char* data = (unsigned char*)malloc((size_t)size * size * 4);
	std::vector<png_bytep> rows(size);
	for (int i = 0; i < size; ++i) rows[i] = data + (size_t)i * size * 4;
	png_read_image(png, rows.data());
	png_destroy_read_struct(&png, &info, nullptr);
	free(data);
}

static void framework(const std::string& path)
{
	xmap_class m(path);
	unsigned char* data = nullptr;
	TEX_image_desc desc;
	if (!TEX_load_png(path, &m, data, GL_RGBA, 0, 0, 0, desc)) abort();
	nedfree(data);
}

int main(int argc, char** argv)
{
	const int size = argc > 1 ? atoi(argv[1]) : 2048;
	const char* tmp = getenv("TMPDIR");
	const std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/bench_tex.png";

	// A picture that compresses like artwork: smooth gradients with some grain.
	std::vector<unsigned char> img((size_t)size * size * 4);
	unsigned seed = 1;
	for (size_t i = 0; i < img.size(); ++i) {
		const size_t p = i / 4, x = p % size, y = p / size;
		seed = seed * 1103515245 + 12345;
		img[i] = (unsigned char)((i % 4 == 3 ? 255 - y / 16 : x * (i % 4 + 1) / 8 + y / 8) + (seed >> 28));
	}
	const TEX_image_desc desc = {GL_RGBA, size, size, 0, 0};
	if (!TEX_save_png(path, desc, img.data())) return 1;

	const double ours = best_of(5, [&] { framework(path); });
	const double plain = best_of(5, [&] { libpng_plain(path, size); });
	printf("PNG decode %dx%d RGBA: TEX_load_png %.1f ms, libpng loop %.1f ms, overhead %+.1f%%\n", size, size,
	       ours * 1e3, plain * 1e3, (ours / plain - 1) * 100);
	remove(path.c_str());

	std::vector<unsigned char> blocks((size_t)squish::GetStorageRequirements(size, size, squish::kDxt5));
	const TEX_image_desc dxt5 = {GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, size, size, 0, 0};
	float metric[3] = {0.2126f, 0.7152f, 0.0722f};
	// Interleaved, so that both see the same load on the machine.
	double wrap = 1e30, direct = 1e30;
	for (int r = 0; r < 3; ++r) {
		wrap = std::min(wrap, best_of(1, [&] {
			TEX_encode_s3tc(desc, dxt5, img.data(), blocks.data(), TEX_s3tc_normal);
		}));
		direct = std::min(direct, best_of(1, [&] {
			squish::CompressImage(img.data(), size, size, blocks.data(), squish::kDxt5 | squish::kColourClusterFit,
			                      metric);
		}));
	}
	printf("DXT5 compress %dx%d (cluster fit): TEX_encode_s3tc %.0f ms, squish %.0f ms, ratio %.3f\n", size, size,
	       wrap * 1e3, direct * 1e3, wrap / direct);
	return 0;
}
