// plat_appledouble_parse on any bytes; every part it points at is read whole,
// so a pointer past the record shows.
#include <string>

#include "Platform/plat_files.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	// A copy of exactly the record's length: the sanitizer sees any byte past it.
	const std::string rec((const char*)data, size);
	plat_appledouble ad;
	if (!plat_appledouble_parse(rec.data(), rec.size(), &ad)) return 0;
	volatile unsigned sum = 0;
	if (ad.finder_info) sum += plat_finder_info_from_be(ad.finder_info).fileType;
	for (uint32_t i = 0; ad.fork && i < ad.fork_len; ++i) sum += (unsigned char)ad.fork[i];
	(void)sum;
	return 0;
}
