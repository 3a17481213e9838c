#include "Platform/plat_system.h"

#include <sched.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <climits>
#include <clocale>
#include <fstream>

#include "Platform/plat_folders.h"

int MPProcessors()
{
	cpu_set_t set;
	CPU_ZERO(&set);
	if (sched_getaffinity(0, sizeof(set), &set) == 0) {
		int n = CPU_COUNT(&set);
		if (n > 0) return n;
	}
	long n = sysconf(_SC_NPROCESSORS_ONLN);
	return n > 0 ? (int)n : 1;
}

std::string plat_app_folder()
{
	std::string folder = "./";
	plat_folder_app(folder);
	return folder;
}

std::string plat_system_name()
{
	utsname u;
	if (uname(&u) != 0) return "Linux";
	return std::string(u.sysname) + " " + u.release + " " + u.machine;
}

std::string plat_processor_name()
{
	std::ifstream in("/proc/cpuinfo");
	std::string line;
	while (std::getline(in, line)) {
		if (line.compare(0, 10, "model name") != 0) continue;
		size_t colon = line.find(':');
		if (colon == std::string::npos) break;
		size_t start = line.find_first_not_of(' ', colon + 1);
		return start == std::string::npos ? "" : line.substr(start);
	}
	return "unknown processor";
}

long long plat_memory_bytes()
{
	long pages = sysconf(_SC_PHYS_PAGES);
	long size = sysconf(_SC_PAGE_SIZE);
	return pages > 0 && size > 0 ? (long long)pages * size : 0;
}

void plat_utf8_names()
{
	static bool done = false;
	if (done) return;
	done = true;
	if (!setlocale(LC_CTYPE, "C.UTF-8")) setlocale(LC_CTYPE, "C.utf8");
}
