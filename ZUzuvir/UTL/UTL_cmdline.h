// The command line, parsed once at start-up into the program-wide option map.
// Keys are the arguments as typed up to their first "=" (dashes kept, case kept);
// values are what follows it.
#ifndef UTL_CMDLINE_H
#define UTL_CMDLINE_H

#include <map>
#include <string>
#include <vector>

class UTL_cmdline {
public:
	int init_unix(int argc, const char** argv);
	int init_win(const char* line);
	// Lists commands ("--cmnds") or prints the usage ("-h", "--help") and exits 0;
	// otherwise returns 0.
	int init_common();

	bool        has_option(const char* key) const;
	std::string get_option(const char* key) const;
	// The argument given right after the last argument that is exactly `key`,
	// whole: the folder of "-path FOLDER" ("-path=FOLDER" is not such a use). ""
	// when there is none or it came last.
	std::string get_next_arg(const char* key) const;

private:
	void add(const std::string& arg, const std::string& key, const std::string& value);
	std::map<std::string, std::string> options;
	std::vector<std::string>           args;  // every entry's argument, whole, in the order given
};

extern UTL_cmdline cmdline;

extern const char* const UTL_usage_text;

#endif
