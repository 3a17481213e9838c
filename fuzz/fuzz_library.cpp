// The "library.txt" reader on any bytes, as the only package's library beside
// a 360 x 180 region bitmap "r.bmp"; then every virtual path it exported is
// looked up, at a few tiles and anywhere.
#include <cstring>
#include <vector>

#include "Files/dsf_library.h"
#include "GenC/hl_globals.h"
#include "fuzz_common.h"

// An all-zero 360 x 180 24-bit BMP but for one white pixel.
static void write_region_bitmap(const std::string& path)
{
	const int w = 360, h = 180, row = w * 3;
	std::vector<unsigned char> bmp(54 + (size_t)row * h, 0);
	auto put32 = [&](size_t at, uint32_t v) {
		for (int i = 0; i < 4; ++i) bmp[at + i] = (unsigned char)(v >> (8 * i));
	};
	bmp[0] = 'B';
	bmp[1] = 'M';
	put32(2, (uint32_t)bmp.size());
	put32(10, 54);
	put32(14, 40);
	put32(18, w);
	put32(22, h);
	bmp[26] = 1;
	bmp[28] = 24;
	memset(&bmp[54 + 90 * row + 180 * 3], 255, 3);
	fuzz_write(path, bmp.data(), bmp.size());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	if (app_path.empty()) {
		app_path = fuzz_scratch();
		write_region_bitmap(app_path + "Custom Scenery/p/r.bmp");
	}
	fuzz_write(app_path + "Custom Scenery/p/library.txt", data, size);
	try {
		DSF_ScanSceneryFolder();
		int seed = 0;
		std::vector<std::string> all;
		for (const auto& chain : dsf_library) {
			if (++seed > 16) break;
			uint64_t weight = 0;
			for (const lib_entry* e = chain.second; e; e = e->next) weight += e->flags & lib_weight_mask;
			for (int tile : {-180, 0, 179, 400}) {
				std::string path = chain.first;
				DSF_LookupLibraryResource(tile, tile / 2, path, seed);
				// The list holds each file as many times as its weight (up to 2^24
				// each): chains weighing more than 4096 in all are left to the single lookup.
				if (weight <= 4096) DSF_LookupLibraryResourceMultiple(tile, tile / 2, chain.first, all);
			}
			std::string path = chain.first;
			DSF_LookupLibraryResourceAnywhere(path, seed * 37);
		}
	} catch (const fuzz_fatal_alert&) {
	}
	return 0;
}
