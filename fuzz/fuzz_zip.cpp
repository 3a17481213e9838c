// zip_to_file on any bytes, written as a file, into a folder three levels down
// a scratch tree: whatever the archive names, nothing may appear beside that
// folder or above it. The first byte picks renaming of the first entry.
#include <cstdlib>

#include "Files/io_archive.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	if (size < 1) return 0;
	const std::string root = fuzz_scratch() + "zip/", out = root + "a/b/out/";
	fuzz_remove(root);
	fuzz_write(root + "in.zip", data + 1, size - 1);
	fuzz_write(out + ".keep", "", 0);

	std::string first = "renamed";
	zip_to_file(root + "in.zip", out, &first, data[0] & 1);

	if (fuzz_listing(root) != "a\nin.zip\n" || fuzz_listing(root + "a/") != "b\n" ||
	    fuzz_listing(root + "a/b/") != "out\n")
		abort();
	return 0;
}
