// Shared by the fuzz targets: the input mapped as if it were a file, fatal
// alerts and exit turned into exceptions so that one run covers many inputs,
// and a scratch folder for the readers that take a file by its path.
#ifndef FUZZ_COMMON_H
#define FUZZ_COMMON_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "OOPS_cpp/xmap.h"

// Thrown by the fuzz build's __MACIBM_alert for a fatal alert: a refusal the
// program makes on purpose, not a finding.
struct fuzz_fatal_alert {};

// An xmap_class over bytes that are not a mapping (never unmapped).
class fuzz_map {
public:
	fuzz_map(const uint8_t* data, size_t size) : m("")
	{
		m.base = m.cursor = (const char*)data;
		m.end = m.base + size;
	}
	~fuzz_map() { m.base = m.cursor = m.end = nullptr; }
	xmap_class* operator&() { return &m; }

private:
	xmap_class m;
};

// A private folder made once per process under $TMPDIR (or /tmp), ending in
// "/", and removed at exit.
const std::string& fuzz_scratch();
// Writes the bytes to path (absolute), making the folders on the way.
void fuzz_write(const std::string& path, const void* data, size_t size);
// Removes path and everything below it; a link is removed, not followed.
void fuzz_remove(const std::string& path);
// The names in folder, sorted, "." and ".." left out.
std::string fuzz_listing(const std::string& folder);
// Runs an extractor on the bytes after the first, written as `archive` in a
// fresh scratch tree, into a folder three levels down that holds `keep`; the
// first byte's low bit is the extractor's rename flag. Whatever the archive
// names, nothing may appear beside that folder or above it: abort() if it does.
void fuzz_extract_contained(const char* kind, const uint8_t* data, size_t size, const std::string& archive,
                            const std::string& keep,
                            int (*extract)(const std::string& archive, const std::string& folder, int rename));

#endif
