// Preference files: one key and its value per line after the framework's text
// header (version 9002). One call reads or writes a file, so a file is always
// written with exactly the keys, in the order, that it is read with.
// Main thread only.
#ifndef PREF_H
#define PREF_H

#include <map>
#include <string>

// One open preference file: read whole into `values` (dir 0), or being written
// through ouf (dir 1) from construction to destruction.
class scan_class {
public:
	int                                dir;
	std::map<std::string, std::string> values;  // every entry read; empty when writing

	scan_class(const std::string& path, int dir);
	~scan_class();
	scan_class(const scan_class&) = delete;
	scan_class& operator=(const scan_class&) = delete;

	// Reading: the "--pref:" option of the key, else the file's value, converted
	// as atoi does (clamped to int) into *field; 1 when a value was found, else 0
	// with *field unchanged. Writing: the line "key value\n"; 0.
	int int_io(int* field, const char* key);
	// The same for a text; written only when not empty.
	int str_io(std::string* field, const char* key);

private:
	const std::string* find(const char* key, std::string* option) const;
	std::string path;            // the file being written, its links followed
	std::string draft;           // where it is written until complete
	bool        opened = false;  // the draft was created
};

class pref_class {
public:
	// Reads (dir 0) or writes (dir 1) preference file 10 (display settings),
	// 11 (the installer's) or 12 (calibration).
	void IO_set(int file, int dir);
	int  IO_sta(int, int, const std::string&) { return 0; }
};
extern pref_class pref;

// Whether a value given on the command line by `option` may become a setting:
// not when it holds CR or LF, which would end its line in the file and begin
// another setting. A refusal is written to the log.
bool pref_value_ok(const std::string& option, const std::string& value);

// The path of preference file 10, 11 or 12.
std::string pref_path(int file);

#endif
