// Archive extraction, warm cache, side by side: zip_to_file against unzip and
// bsdtar on a zip of an installation-like tree, and p7z_to_file against 7z x on
// a solid BCJ2 archive of the same tree. Each run is a child process, so the
// peak memory (maximum resident size) is the extractor's alone. Data goes to
// $TMPDIR and is removed after.
//
//   bench_archives [files=2000] [megabytes=100]
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include "Files/io_archive.h"

extern char** environ;

struct timing {
	double seconds;
	long   peak_kib;
};

static double now()
{
	return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Runs f in a child; its wall time and maximum resident size. The exit status
// must be 0.
static timing in_child(const std::function<int()>& f)
{
	const double t0 = now();
	pid_t pid = fork();
	if (pid == 0) _exit(f());
	int status = 0;
	struct rusage use = {};
	wait4(pid, &status, 0, &use);
	const double t = now() - t0;
	if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) fprintf(stderr, "run failed (status %d)\n", status);
	return {t, use.ru_maxrss};
}

static int shell(const std::string& cmd)
{
	const char* argv[] = {"/bin/sh", "-c", cmd.c_str(), nullptr};
	pid_t pid;
	if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, (char* const*)argv, environ) != 0) return -1;
	int status;
	waitpid(pid, &status, 0);
	return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Best time of `reps` runs, with `prepare` (untimed) before each.
static timing best_of(int reps, const std::function<void()>& prepare, const std::function<int()>& f)
{
	timing best = {1e30, 0};
	for (int r = 0; r < reps; ++r) {
		prepare();
		timing t = in_child(f);
		if (t.seconds < best.seconds) best.seconds = t.seconds;
		if (t.peak_kib > best.peak_kib) best.peak_kib = t.peak_kib;
	}
	return best;
}

static uint64_t rng = 0x9e3779b97f4a7c15ull;
static uint64_t next_random()
{
	rng ^= rng << 13;
	rng ^= rng >> 7;
	rng ^= rng << 17;
	return rng;
}

// Half random bytes, half text-like runs: compresses about as installed files do.
static void write_data(const std::string& path, size_t bytes)
{
	std::string data(bytes, '\0');
	for (size_t i = 0; i < bytes; i += 8) {
		uint64_t w = next_random();
		for (size_t k = 0; k < 8 && i + k < bytes; ++k)
			data[i + k] = (i / 4096) % 2 ? (char)(w >> (8 * k)) : (char)("scenery object "[(i + k) % 15]);
	}
	std::ofstream(path, std::ios::binary).write(data.data(), (std::streamsize)data.size());
}

static void print(const char* name, const timing& t, double mb, const timing& ours)
{
	printf("  %-14s %7.3f s  %8.1f MB/s  peak %7.1f MiB  ratio (ours/this) %6.3f\n", name, t.seconds,
	       mb / t.seconds, t.peak_kib / 1024.0, ours.seconds / t.seconds);
}

int main(int argc, char** argv)
{
	const int files = argc > 1 ? atoi(argv[1]) : 2000;
	const size_t megabytes = argc > 2 ? strtoul(argv[2], nullptr, 10) : 100;
	const char* tmp = getenv("TMPDIR");
	std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/bench_archives_XXXXXX";
	if (!mkdtemp(dir.data())) return 1;
	dir += "/";

	// The tree: folders of 100 files, sizes around the mean, and one x86
	// executable per folder for the BCJ2 filter.
	const std::string tree = dir + "tree/";
	mkdir(tree.c_str(), 0755);
	const size_t mean = (megabytes << 20) / (size_t)files;
	size_t total = 0;
	for (int i = 0; i < files; ++i) {
		char name[64];
		snprintf(name, sizeof(name), "dir_%03d/", i / 100);
		const std::string folder = tree + name;
		if (i % 100 == 0) {
			mkdir(folder.c_str(), 0755);
			shell("cp /bin/ls '" + folder + "prog'");
		}
		snprintf(name, sizeof(name), "file_%05d.dat", i);
		const size_t size = mean / 2 + next_random() % mean;
		write_data(folder + name, size);
		total += size;
	}
	const double mb = (double)total / 1e6;
	shell("cd '" + tree + "' && zip -qr ../tree.zip . && 7z a -t7z -ms=on -m0=BCJ2 -m1=LZMA:d25 -m2=LZMA:d19 "
	      "-m3=LZMA:d19 -mb0:1 -mb0s1:2 -mb0s2:3 ../tree.7z . >/dev/null");
	shell("cat '" + dir + "tree.zip' '" + dir + "tree.7z' > /dev/null");

	const std::string out = dir + "out/";
	auto fresh = [&] { shell("rm -rf '" + out + "' && mkdir '" + out + "'"); };
	// p7z_to_file needs the folders, which the installer makes beforehand.
	auto fresh_folders = [&] { shell("rm -rf '" + out + "' && cd '" + tree + "' && find . -type d -exec mkdir -p '" + out + "{}' ';'"); };

	printf("zip: %d files, %.1f MB, warm cache, best of 3\n", files, mb);
	const timing zip_ours = best_of(3, fresh, [&] { return zip_to_file(dir + "tree.zip", out, nullptr, 0); });
	const timing unzip = best_of(3, fresh, [&] { return shell("unzip -qo '" + dir + "tree.zip' -d '" + out + "'"); });
	const timing bsdtar = best_of(3, fresh, [&] { return shell("bsdtar -xf '" + dir + "tree.zip' -C '" + out + "'"); });
	print("zip_to_file", zip_ours, mb, zip_ours);
	print("unzip", unzip, mb, zip_ours);
	print("bsdtar", bsdtar, mb, zip_ours);

	printf("7z: solid BCJ2, same tree, warm cache, best of 3\n");
	const timing p7z_ours = best_of(3, fresh_folders, [&] { return p7z_to_file(dir + "tree.7z", out, nullptr, 0); });
	const timing p7z_x = best_of(3, fresh, [&] { return shell("7z x -y -o'" + out + "' '" + dir + "tree.7z' >/dev/null"); });
	print("p7z_to_file", p7z_ours, mb, p7z_ours);
	print("7z x", p7z_x, mb, p7z_ours);
	printf("goals: zip_to_file/unzip <= 1 (%.3f), p7z_to_file/7z x <= 1.4 (%.3f)\n", zip_ours.seconds / unzip.seconds,
	       p7z_ours.seconds / p7z_x.seconds);

	shell("rm -rf '" + dir + "'");
	return 0;
}
