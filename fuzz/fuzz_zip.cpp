// zip_to_file on any bytes, written as a file, into a folder three levels down
// a scratch tree: whatever the archive names, nothing may appear beside that
// folder or above it. The first byte picks renaming of the first entry.
#include <cstdlib>

#include "Files/io_archive.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	fuzz_extract_contained("zip", data, size, "in.zip", ".keep",
	                       [](const std::string& in, const std::string& out, int rename) {
		                       std::string first = "renamed";
		                       return zip_to_file(in, out, &first, rename);
	                       });
	return 0;
}
