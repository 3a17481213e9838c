// Shared pieces of the test suite: temporary folders, log capture, alert recording.
#ifndef ZUZ_TEST_H
#define ZUZ_TEST_H

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "GenC/MACIBM_alert.h"

struct UTL_message_queue;

namespace zuz_test {

// A fresh folder under $TMPDIR (which the test main points at the test's own
// folder), removed with everything in it when the object goes.
class TempDir {
public:
	TempDir();
	~TempDir();
	TempDir(const TempDir&) = delete;
	TempDir& operator=(const TempDir&) = delete;

	const std::string& path() const { return dir; }  // ends in "/"
	std::string operator/(const std::string& name) const { return dir + name; }

private:
	std::string dir;
};

// Points the log `xer` at a temporary file for the object's life.
class LogCapture {
public:
	LogCapture();
	~LogCapture();
	std::string text();  // everything logged so far

private:
	TempDir tmp;
	std::string file;
};

// Records every alert shown on the main thread instead of displaying it.
class AlertRecorder {
public:
	AlertRecorder();
	~AlertRecorder();
	std::vector<MACIBM_alert_rec> alerts;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);

// Runs a shell command; returns its exit status and fills *out with its
// standard output when out is given.
int run(const std::string& command, std::string* out = nullptr);

// The working folder moved to `dir` for the object's life.
class InFolder {
public:
	explicit InFolder(const std::string& dir);
	~InFolder();
	InFolder(const InFolder&) = delete;
	InFolder& operator=(const InFolder&) = delete;

private:
	std::string back;
};

// How many readers wait on the queue now.
int queue_readers(UTL_message_queue* q);

// The MD5 digest of `bytes` as 32 lower-case hexadecimal digits.
std::string md5_of(const std::string& bytes);

// What `print` writes to the stream it is given.
std::string printed(const std::function<void(FILE*)>& print);
// A text's lines, without their line ends.
std::vector<std::string> lines_of(const std::string& text);

// Xvfb on a display of its choosing; stopped with the object.
class Xvfb {
public:
	Xvfb() = default;
	~Xvfb();
	Xvfb(const Xvfb&) = delete;
	Xvfb& operator=(const Xvfb&) = delete;
	// The display name (":N"), or "" when Xvfb cannot start.
	std::string start();
	// For a death test: starts Xvfb in the parent and hands its display to the
	// child (which runs the test body again) through the environment; sets
	// DISPLAY. "" when Xvfb cannot start. release() clears both variables.
	std::string shared_display();
	static void release();

private:
	int pid = -1;
};

}  // namespace zuz_test

#endif
