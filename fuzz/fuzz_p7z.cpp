// p7z_to_file on any bytes, written as a file, into a folder three levels down
// a scratch tree: nothing may appear beside that folder or above it. The first
// byte picks renaming.
#include <cstdlib>

#include "Files/io_archive.h"
#include "fuzz_common.h"

// libarchive sizes some blocks from the archive's header (tens of GiB from a
// 100-byte file) and copes with a null from malloc, which the C library's
// allocator gives for such a size. The sanitizer's would end the run, or grant
// it and fill gigabytes of shadow memory; here it refuses past 1 GiB instead.
extern "C" const char* __asan_default_options()
{
	return "allocator_may_return_null=1:max_allocation_size_mb=1024";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	fuzz_extract_contained("p7z", data, size, "in.7z", "d/.keep",
	                       [](const std::string& in, const std::string& out, int rename) {
		                       std::string name = "renamed";
		                       return p7z_to_file(in, out, &name, rename);
	                       });
	return 0;
}
