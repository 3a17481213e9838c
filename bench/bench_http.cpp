// Download throughput of net_check, polled in a tight loop, from nginx over
// loopback: one 1 GiB file against curl and wget, then four streams at once
// (slots 2 to 5) against curl --parallel. Everything written goes to /dev/null;
// the file lives in tmpfs. Runs as root inside a private network namespace.
//
//   bench_http [megabytes=1024]
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "OOPS_cpp/http.h"
#include "zuz_net.h"

static double now()
{
	return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Seconds the shell command took; negative when it failed.
static double timed(const std::string& cmd)
{
	double t0 = now();
	int status = system(cmd.c_str());
	return status == 0 ? now() - t0 : -1;
}

// Fetches /big through `streams` slots at once; the seconds taken and the polls made.
static double fetch(int streams, long long* polls)
{
	std::vector<int> running(streams, 1);
	int left = streams;
	*polls = 0;
	double t0 = now();
	while (left > 0) {
		for (int k = 0; k < streams; ++k) {
			if (!running[k]) continue;
			int r = http.net_check(2 + k, "127.0.0.1", "/big", "/dev/null");
			++*polls;
			if (r == 0) continue;
			if (r != 1) return -1;
			running[k] = 0;
			--left;
		}
	}
	return now() - t0;
}

int main(int argc, char** argv)
{
	long long mb = argc > 1 ? atoll(argv[1]) : 1024;
	std::string why = zuz_test::private_network();
	if (!why.empty()) {
		fprintf(stderr, "bench_http: %s\n", why.c_str());
		return 1;
	}
	char pattern[] = "/dev/shm/zuz-bench-XXXXXX";
	if (!mkdtemp(pattern)) return 1;
	std::string dir = std::string(pattern) + "/";
	std::filesystem::create_directories(dir + "www");
	{
		std::vector<char> block(1 << 20);
		unsigned x = 1;
		for (char& c : block) c = (char)(x = x * 1103515245u + 12345u);
		FILE* f = fopen((dir + "www/big").c_str(), "wb");
		for (long long i = 0; i < mb; ++i) fwrite(block.data(), 1, block.size(), f);
		fclose(f);
	}
	std::unique_ptr<zuz_test::Daemon> nginx(zuz_test::start_nginx(dir, dir + "www", 4));
	if (!nginx) {
		fprintf(stderr, "bench_http: nginx did not start\n");
		return 1;
	}
	const double bytes = (double)mb * (1 << 20);
	const std::string url = "http://127.0.0.1/big";
	printf("%lld MiB from nginx over loopback, MB/s (best of 3)\n", mb);

	double ours = 1e30, curl = 1e30, wget = 1e30, ours4 = 1e30, curl4 = 1e30;
	long long polls = 0, polls4 = 0;
	for (int rep = 0; rep < 3; ++rep) {
		long long p;
		double t = fetch(1, &p);
		if (t > 0 && t < ours) ours = t, polls = p;
		t = timed("curl -s -o /dev/null " + url);
		if (t > 0 && t < curl) curl = t;
		t = timed("wget -q -O /dev/null " + url);
		if (t > 0 && t < wget) wget = t;
		t = fetch(4, &p);
		if (t > 0 && t < ours4) ours4 = t, polls4 = p;
		t = timed("curl -s --parallel --parallel-max 4 -o /dev/null -o /dev/null -o /dev/null -o /dev/null " + url + " " +
		          url + " " + url + " " + url + " 2>/dev/null");
		if (t > 0 && t < curl4) curl4 = t;
	}
	auto rate = [&](double t, int n) { return n * bytes / t / 1e6; };
	printf("one stream   net_check %8.0f   curl %8.0f   wget %8.0f   ratio to curl %.2f, to wget %.2f\n",
	       rate(ours, 1), rate(curl, 1), rate(wget, 1), curl / ours, wget / ours);
	printf("four streams net_check %8.0f   curl --parallel %8.0f   ratio to curl %.2f, to one stream %.2f\n",
	       rate(ours4, 4), rate(curl4, 4), rate(ours4, 4) / rate(curl4, 4), rate(ours4, 4) / rate(ours, 1));
	printf("bytes read per poll: one stream %.0f, four streams %.0f\n", bytes / polls, 4 * bytes / polls4);

	nginx.reset();
	std::filesystem::remove_all(dir);
	return 0;
}
