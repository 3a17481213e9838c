#include "zuz_test.h"

#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "GenC/hl_globals.h"

namespace zuz_test {

TempDir::TempDir()
{
	const char* base = getenv("TMPDIR");
	std::string pattern = std::string(base && *base ? base : "/tmp") + "/zuzXXXXXX";
	if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed: " + pattern);
	dir = pattern + "/";
}

TempDir::~TempDir()
{
	std::error_code ec;
	std::filesystem::remove_all(dir, ec);
}

LogCapture::LogCapture() : file(tmp / "Log.txt")
{
	if (xer.is_open()) xer.close();
	xer.clear();
	xer.open(file, std::ios::out | std::ios::trunc);
}

LogCapture::~LogCapture()
{
	xer.close();
	xer.clear();
}

std::string LogCapture::text()
{
	xer.flush();
	return read_file(file);
}

static AlertRecorder* recorder = nullptr;

static void record(const MACIBM_alert_rec& a)
{
	if (recorder) recorder->alerts.push_back(a);
}

AlertRecorder::AlertRecorder()
{
	recorder = this;
	MACIBM_alert_hook = record;
}

AlertRecorder::~AlertRecorder()
{
	MACIBM_alert_hook = nullptr;
	recorder = nullptr;
}

std::string read_file(const std::string& path)
{
	std::ifstream in(path, std::ios::binary);
	std::ostringstream s;
	s << in.rdbuf();
	return s.str();
}

void write_file(const std::string& path, const std::string& bytes)
{
	std::ofstream out(path, std::ios::binary | std::ios::trunc);
	out << bytes;
}

int run(const std::string& command, std::string* out)
{
	FILE* p = popen(command.c_str(), "r");
	if (!p) return -1;
	std::string text;
	char buf[4096];
	size_t n;
	while ((n = fread(buf, 1, sizeof(buf), p)) > 0) text.append(buf, n);
	int status = pclose(p);
	if (out) *out = text;
	return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace zuz_test
