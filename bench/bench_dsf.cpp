// The scenery scan of one package whose library.txt exports N files under one
// virtual path ("EXPORT_EXTEND lib/same.obj objects/oN.obj"): the time should
// grow with N, not with its square. Data goes to $TMPDIR and is removed after.
//
//   bench_dsf [lines=10000] [lines=40000]
#include <stdlib.h>
#include <unistd.h>

#include <ctime>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "Files/dsf_library.h"

// Processor time of this thread: the machine may be busy with other work.
static double now()
{
	timespec t;
	clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
	return t.tv_sec + t.tv_nsec * 1e-9;
}

// Best of seven scans of a library of `lines` lines; 0 when the chain came out wrong.
static double time_scan(int lines)
{
	std::filesystem::create_directories("Custom Scenery/p");
	{
		std::ofstream lib("Custom Scenery/p/library.txt");
		lib << "I\n800\nLIBRARY\n";
		for (int i = 0; i < lines; ++i) lib << "EXPORT_EXTEND lib/same.obj objects/o" << i << ".obj\n";
	}
	double best = 1e30;
	for (int r = 0; r < 7; ++r) {
		const double t0 = now();
		DSF_ScanSceneryFolder();
		const double t = now() - t0;
		if (t < best) best = t;
	}
	int i = 0;
	for (const lib_entry* e = dsf_library["lib/same.obj"]; e; e = e->next, ++i)
		if (e->path != "objects/o" + std::to_string(i) + ".obj") return 0;
	return i == lines ? best : 0;
}

int main(int argc, char** argv)
{
	const int small = argc > 1 ? atoi(argv[1]) : 10000;
	const int large = argc > 2 ? atoi(argv[2]) : 40000;
	const char* tmp = getenv("TMPDIR");
	std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/bench_dsf_XXXXXX";
	if (!mkdtemp(dir.data()) || chdir(dir.c_str()) != 0) return 1;

	const double t_small = time_scan(small);
	const double t_large = time_scan(large);
	printf("scan of one package, N lines on one virtual path, best of 7, thread CPU time\n");
	printf("  %6d lines  %8.4f s%s\n", small, t_small, t_small ? "" : "  CHAIN WRONG");
	printf("  %6d lines  %8.4f s%s\n", large, t_large, t_large ? "" : "  CHAIN WRONG");
	if (t_small > 0) printf("  ratio         %8.2f (lines x%.1f)\n", t_large / t_small, (double)large / small);

	if (chdir("/") == 0) std::filesystem::remove_all(dir);
	return t_small && t_large ? 0 : 1;
}
