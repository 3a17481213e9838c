// The preference reader on any bytes, as the display-settings file and as a
// file read for the installer's keys.
#include "GenC/hl_globals.h"
#include "OOPS_cpp/pref.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	if (app_path.empty()) app_path = fuzz_scratch();
	const std::string file = pref_path(10);
	fuzz_write(app_path + file, data, size);
	try {
		pref.IO_set(10, 0);
		scan_class s(file, 0);
		int number = 0;
		std::string text;
		for (const char* key : {"_use_max_cpu", "_stream_count", "_proxy_port_int"}) s.int_io(&number, key);
		for (const char* key : {"_dest_dir_path", "_proxy_host", "_proxy_port"}) s.str_io(&text, key);
	} catch (const fuzz_fatal_alert&) {
	}
	return 0;
}
