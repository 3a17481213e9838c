#include "zuz_test.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <unistd.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "Files/md5.h"
#include "GenC/hl_globals.h"
#include "UTL/UTL_thread.h"

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

InFolder::InFolder(const std::string& dir) : back(std::filesystem::current_path())
{
	if (chdir(dir.c_str()) != 0) ADD_FAILURE() << "cannot work in " << dir;
}

InFolder::~InFolder()
{
	if (chdir(back.c_str()) != 0) ADD_FAILURE() << "cannot go back to " << back;
}

std::string md5_of(const std::string& bytes)
{
	MD5_CTX c;
	MD5Init(&c);
	MD5UpdateWide(&c, (const unsigned char*)bytes.data(), bytes.size());
	MD5Final(&c);
	char hex[33];
	for (int i = 0; i < 16; ++i) snprintf(hex + 2 * i, 3, "%02x", c.digest[i]);
	return hex;
}

int queue_readers(UTL_message_queue* q)
{
	pthread_mutex_lock(&q->mutex);
	int n = q->waiters;
	pthread_mutex_unlock(&q->mutex);
	return n;
}

std::string printed(const std::function<void(FILE*)>& print)
{
	char* buf = nullptr;
	size_t len = 0;
	FILE* f = open_memstream(&buf, &len);
	print(f);
	fclose(f);
	std::string text(buf, len);
	free(buf);
	return text;
}

std::vector<std::string> lines_of(const std::string& text)
{
	std::vector<std::string> lines;
	std::istringstream in(text);
	for (std::string l; std::getline(in, l);) lines.push_back(l);
	return lines;
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

extern char** environ;

namespace zuz_test {

Xvfb::~Xvfb()
{
	if (pid > 0) {
		kill(pid, SIGTERM);
		waitpid(pid, nullptr, 0);
	}
}

std::string Xvfb::shared_display()
{
	const char* started = getenv("ZUZ_TEST_XVFB");
	std::string display = started ? started : start();
	if (display.empty()) return "";
	setenv("ZUZ_TEST_XVFB", display.c_str(), 1);
	setenv("DISPLAY", display.c_str(), 1);
	return display;
}

void Xvfb::release()
{
	unsetenv("DISPLAY");
	unsetenv("ZUZ_TEST_XVFB");
}

std::string Xvfb::start()
{
	int fds[2];
	if (pipe(fds) != 0) return "";
	std::string fd = std::to_string(fds[1]);
	const char* argv[] = {"Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
	                      nullptr};
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_addclose(&actions, fds[0]);
	posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
	pid_t child = -1;
	int err = posix_spawnp(&child, "Xvfb", &actions, nullptr, (char* const*)argv, environ);
	posix_spawn_file_actions_destroy(&actions);
	close(fds[1]);
	pid = err ? -1 : child;
	std::string number;
	pollfd p = {fds[0], POLLIN, 0};
	char c;
	while (pid > 0 && poll(&p, 1, 60000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
	close(fds[0]);
	return number.empty() ? "" : ":" + number;
}

}  // namespace zuz_test
