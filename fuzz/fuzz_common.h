// Shared by the image fuzz targets: the input mapped as if it were a file, and
// fatal alerts turned into an exception so that one run covers many inputs.
#ifndef FUZZ_COMMON_H
#define FUZZ_COMMON_H

#include <cstddef>
#include <cstdint>

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

#endif
