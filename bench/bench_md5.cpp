// MD5 throughput of calc_file_md5 against md5sum and openssl on one large file,
// and a whole-installation scan (20,000 small files) against find | xargs md5sum,
// with and without letter-case repair. Data goes to $TMPDIR and is removed after.
//
//   bench_md5 [megabytes=512] [files=20000]
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "Files/md5.h"
#include "GenC/hl_globals.h"

static double now()
{
	return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

static std::string run(const std::string& cmd)
{
	std::string out;
	FILE* p = popen(cmd.c_str(), "r");
	if (!p) return out;
	char buf[1 << 16];
	size_t n;
	while ((n = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
	pclose(p);
	return out;
}

// Best of `reps` timings of f().
template <class F>
static double best_of(int reps, F f)
{
	double best = 1e30;
	for (int r = 0; r < reps; ++r) {
		double t0 = now();
		f();
		double t = now() - t0;
		if (t < best) best = t;
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

static void write_random(const std::string& path, size_t bytes)
{
	std::ofstream out(path, std::ios::binary);
	std::vector<uint64_t> block(1 << 17);
	while (bytes) {
		for (uint64_t& w : block) w = next_random();
		size_t n = std::min(bytes, block.size() * 8);
		out.write((const char*)block.data(), (std::streamsize)n);
		bytes -= n;
	}
}

static std::string upper(std::string s)
{
	for (char& c : s)
		if (c >= 'a' && c <= 'z') c = (char)(c - 32);
	return s;
}

int main(int argc, char** argv)
{
	const size_t megabytes = argc > 1 ? strtoul(argv[1], nullptr, 10) : 512;
	const int files = argc > 2 ? atoi(argv[2]) : 20000;
	const char* tmp = getenv("TMPDIR");
	std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/bench_md5_XXXXXX";
	if (!mkdtemp(dir.data())) return 1;
	dir += "/";

	// One large file, warm in the page cache.
	const std::string big = dir + "big.bin";
	write_random(big, megabytes << 20);
	run("cat '" + big + "' > /dev/null");
	std::string ours, theirs;
	const double t_ours = best_of(5, [&] { calc_file_md5(big, ours); });
	const double t_md5sum = best_of(5, [&] { theirs = run("md5sum '" + big + "'"); });
	const double t_openssl = best_of(5, [&] { run("openssl dgst -md5 '" + big + "'"); });
	const double mb = (double)megabytes * 1048576.0 / 1e6;
	printf("large file, %zu MiB, warm cache, best of 5\n", megabytes);
	printf("  calc_file_md5      %8.1f MB/s  %s\n", mb / t_ours, ours == theirs.substr(0, 32) ? "" : "DIGEST DIFFERS");
	printf("  md5sum             %8.1f MB/s\n", mb / t_md5sum);
	printf("  openssl dgst -md5  %8.1f MB/s\n", mb / t_openssl);
	printf("  ratio to openssl   %8.3f\n", t_openssl / t_ours);
	printf("  ratio to md5sum    %8.3f\n", t_md5sum / t_ours);
	unlink(big.c_str());

	// An installation: folders of 100 small files, named in lower case on disk.
	const std::string tree = dir + "tree/";
	mkdir(tree.c_str(), 0755);
	std::vector<std::string> rel;
	size_t total = 0;
	for (int i = 0; i < files; ++i) {
		char folder[32], name[48];
		snprintf(folder, sizeof(folder), "dir_%03d/", i / 100);
		snprintf(name, sizeof(name), "file_%05d.dat", i);
		if (i % 100 == 0) mkdir((tree + folder).c_str(), 0755);
		const size_t size = 200 + next_random() % 16000;
		write_random(tree + folder + name, size);
		rel.push_back(std::string(folder) + name);
		total += size;
	}
	run("cat '" + tree + "'*/* > /dev/null");

	std::vector<std::string> digests(rel.size());
	auto scan = [&](bool wrong_case) {
		for (size_t i = 0; i < rel.size(); ++i)
			calc_file_md5(tree + (wrong_case ? upper(rel[i]) : rel[i]), digests[i]);
	};
	g_case_sensitive = 0;
	const double t_scan = best_of(3, [&] { scan(false); });
	g_case_sensitive = 1;
	const double t_scan_checked = best_of(3, [&] { scan(false); });
	const double t_scan_wrong = best_of(3, [&] { scan(true); });
	g_case_sensitive = 0;
	const std::string listing = "cd '" + tree + "' && find . -type f -print0 | xargs -0 md5sum";
	std::string sums;
	const double t_find = best_of(3, [&] { sums = run(listing); });

	// Every digest as md5sum has it (lines "digest  ./path").
	std::map<std::string, std::string> by_path;
	for (size_t at = 0; at < sums.size();) {
		size_t eol = sums.find('\n', at);
		by_path[sums.substr(at + 36, eol - at - 36)] = sums.substr(at, 32);
		at = eol + 1;
	}
	int differ = 0;
	for (size_t i = 0; i < rel.size(); ++i) differ += by_path[rel[i]] != digests[i];

	printf("installation scan, %d files in %d folders, %.1f MB, warm cache, best of 3\n", files, (files + 99) / 100,
	       total / 1e6);
	printf("  find | xargs md5sum                %8.3f s\n", t_find);
	printf("  calc_file_md5, case repair off     %8.3f s  ratio %.3f\n", t_scan, t_find / t_scan);
	printf("  case repair on, exact case         %8.3f s  ratio %.3f\n", t_scan_checked, t_find / t_scan_checked);
	printf("  case repair on, every path wrong   %8.3f s  ratio %.3f\n", t_scan_wrong, t_find / t_scan_wrong);
	printf("  findPath cost per wrongly cased path  %.1f us\n", (t_scan_wrong - t_scan_checked) / files * 1e6);
	if (differ) printf("  %d DIGESTS DIFFER FROM md5sum\n", differ);

	std::error_code ec;
	std::filesystem::remove_all(dir, ec);
	return differ ? 1 : 0;
}
