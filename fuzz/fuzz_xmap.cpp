// The framework header check and the word scanners of the mapped-file reader
// on any bytes. The first byte picks binary or text, the version list and the
// keyword line; the scanners then walk the rest to its end.
#include "GenC/MACIBM_alert.h"
#include "Files/io_utils.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	if (size < 1) return 0;
	static const int versions[][3] = {{800, 0}, {9002, 0}, {1, -1, 0}, {0}};
	const uint8_t opt = data[0];
	fuzz_map m(data + 1, size - 1);
	xmap_class& x = *&m;
	std::string rest;
	try {
		x.check_file(opt & 1 ? io_type_binary : io_type_text, versions[(opt >> 1) & 3], opt & 8 ? "LIBRARY" : nullptr,
		             opt & 16 ? &rest : nullptr);
		int words = 0;
		while (x.cursor < x.end && ++words < 100000) {
			const char* before = x.cursor;
			std::string word;
			if (opt & 32) {
				unsigned char four[4];
				if (x.end - x.cursor >= 4) x.read_n_rev(four, 4);
			}
			x.TXT_str_scan_space(&word);
			if (opt & 64) x.TXT_xer_line();
			x.TXT_str_scan_eoln(&word);
			if (x.cursor <= before) abort();  // a scanner that stands still would hang its caller
		}
	} catch (const fuzz_fatal_alert&) {
	}
	return 0;
}
