// Read-only mapped input files with a cursor, the framework header check, and
// small text scanners. Main thread only.
#ifndef XMAP_H
#define XMAP_H

#include <string>

class xmap_class {
public:
	int         swap = 0;  // 1: the file's 32-bit words are big-endian ("a" header)
	std::string path;      // shown by check_file's alert; nothing fills it
	int         io_dir;    // set by io_file_open: 0 reading, 1 writing through ouf
	const char* base = nullptr;  // first mapped byte; null when nothing is mapped
	const char* cursor = nullptr;
	const char* end = nullptr;   // one past the last byte
	int         fd = 0;          // 0: none (the descriptor is closed once mapped)

	explicit xmap_class(const std::string& path);
	~xmap_class();
	xmap_class(const xmap_class&) = delete;
	xmap_class& operator=(const xmap_class&) = delete;

	// Maps `path` (relative) in place of what was mapped; base, or null when the
	// file cannot be opened. An empty file is present: base == end, not null.
	const char* retry(const std::string& path);

	// The file's version when its header is of `type` (io_type_binary or
	// io_type_text), the version is in `versions` (ended by 0) and the keyword
	// line equals `signature` (when given); else 0. The cursor ends after the
	// header. `rest` receives the text after the version number.
	int check_file(int type, const int* versions, const char* signature, std::string* rest);

	// Copies n bytes from the cursor, reversing each whole 32-bit word when swap is set.
	void read_n_rev(void* dst, size_t n);

	// dir 1: ouf_open(path, type, versions[0], ...); dir 0: maps path and checks
	// its header. 1 on success.
	int  io_file_open(int dir, const std::string& path, const int* versions, int type);
	void io_file_close();

	void TXT_str_scan_space(std::string* out);  // the next blank-separated word
	void TXT_str_scan_eoln(std::string* out);   // the rest of the line; moves to the next line
	void TXT_xer_line();                        // logs the line at the cursor with its number

private:
	void release();
};

extern int mapped_files_open;  // files mapped now (a diagnostic count)

#endif
