// The command line on any bytes: after the first byte, arguments separated by
// NUL bytes (init_unix), or one line (init_win, when the first byte is odd).
// Lines with an option that prints and exits ("-h", "--help", "--cmnds") are
// passed over: the process would end.
#include <cctype>
#include <vector>

#include "UTL/UTL_cmdline.h"
#include "fuzz_common.h"

static bool ends_the_program(const std::string& arg)
{
	const std::string key = arg.substr(0, arg.find('='));
	return key == "-h" || key == "--help" || key == "--cmnds";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	if (size < 1) return 0;
	const std::string text((const char*)data + 1, size - 1);
	const bool win = data[0] & 1;
	std::vector<std::string> args{"Nimbara"};
	for (size_t at = 0; at <= text.size();) {
		size_t stop = at;
		while (stop < text.size() && (win ? text[stop] && !isspace((unsigned char)text[stop]) : text[stop] != 0))
			++stop;
		if (ends_the_program(text.substr(at, stop - at))) return 0;
		args.push_back(text.substr(at, stop - at));
		at = stop + 1;
	}

	UTL_cmdline line;
	if (win) {
		line.init_win(text.c_str());
	} else {
		std::vector<const char*> argv;
		for (const std::string& a : args) argv.push_back(a.c_str());
		line.init_unix((int)argv.size(), argv.data());
	}
	for (const std::string& a : args) line.get_option(a.substr(0, a.find('=')).c_str());
	return 0;
}
