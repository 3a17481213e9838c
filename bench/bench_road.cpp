// The road of one update over loopback: the file list, an MD5 scan of the local
// installation, every archive through four download streams and its extraction
// into place, against the sum of the same parts done by the real tools (curl
// for the downloads, md5sum for the scan, unzip and 7z x for the extraction).
// Root only: nginx runs in a private network namespace; the files live in tmpfs.
//
//   bench_road [files=2000] [kilobytes per file=50]
#include <stdlib.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Files/io_archive.h"
#include "Files/io_utils.h"
#include "Files/md5.h"
#include "OOPS_cpp/http.h"
#include "OOPS_cpp/xmap.h"
#include "zuz_net.h"

namespace fs = std::filesystem;

static double now()
{
	return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

static int sh(const std::string& cmd)
{
	return system(cmd.c_str());
}

// Every tenth file lies where the 7z archives are.
static std::string file_path(int i)
{
	return (i % 10 ? "Resources/set" + std::to_string(i / 100) : std::string("Custom Scenery/Devori Dorivav")) +
	       "/f" + std::to_string(i) + ".dat";
}

static std::string ext_of(const std::string& path)
{
	return path.find("Devori Dorivav") != std::string::npos ? ".7z" : ".zip";
}

static std::string folder_of(const std::string& path)
{
	return path.substr(0, path.rfind('/') + 1);
}

// The road: file list, scan, four streams, extraction. Seconds, or -1.
static double road(const std::string& dir, const std::string& dest)
{
	const double t0 = now();
	const std::string work = dir + "work/";
	fs::create_directories(work);
	int r;
	while ((r = http.net_check(1, "127.0.0.1", "/directory.txt.zip", work + "directory.txt.zip")) == 0) {}
	if (r != 1 || zip_to_file(work + "directory.txt.zip", work, nullptr, 0)) return -1;
	xmap_class list(work + "directory.txt");
	const int versions[] = {900, 0};
	if (list.check_file(io_type_text, versions, "INSTALLER", nullptr) != 900) return -1;
	std::vector<std::string> wanted;
	while (list.cursor < list.end) {
		std::string digest, path, local;
		list.TXT_str_scan_space(&digest);
		list.TXT_str_scan_eoln(&path);
		if (calc_file_md5(dest + path, local) != 0 || local != digest) wanted.push_back(path);
	}
	size_t next = 0, done = 0;
	const std::string* job[6] = {};
	while (done < wanted.size())
		for (int k = 2; k <= 5; ++k) {
			if (!job[k] && next < wanted.size()) job[k] = &wanted[next++];
			if (!job[k]) continue;
			const std::string ext = ext_of(*job[k]), archive = work + std::to_string(k) + ext;
			if ((r = http.net_check(k, "127.0.0.1", "/" + *job[k] + ext, archive)) == 0) continue;
			const std::string into = dest + folder_of(*job[k]);
			if (!dir_exists(into)) fs::create_directories(into);
			if (r != 1 || (ext == ".7z" ? p7z_to_file(archive, into, nullptr, 0) : zip_to_file(archive, into, nullptr, 0)))
				return -1;
			delete_file(archive);
			job[k] = nullptr;
			++done;
		}
	return now() - t0;
}

int main(int argc, char** argv)
{
	const int files = argc > 1 ? atoi(argv[1]) : 2000;
	const int kb = argc > 2 ? atoi(argv[2]) : 50;
	std::string why = zuz_test::private_network();
	if (!why.empty()) {
		fprintf(stderr, "bench_road: %s\n", why.c_str());
		return 1;
	}
	char pattern[] = "/dev/shm/zuz-bench-XXXXXX";
	if (!mkdtemp(pattern)) return 1;
	const std::string dir = std::string(pattern) + "/", src = dir + "src/", www = dir + "www/";

	// The release: half-compressible files, one archive each, and the file list.
	printf("making %d files of %d KiB and their archives...\n", files, kb);
	std::string list = "I\n900 version\nINSTALLER\n", urls;
	unsigned x = 1;
	for (int i = 0; i < files; ++i) {
		const std::string path = file_path(i), leaf = fs::path(path).filename();
		fs::create_directories(src + folder_of(path));
		fs::create_directories(www + folder_of(path));
		std::string bytes((size_t)kb << 10, '\0');
		for (size_t j = 0; j < bytes.size(); ++j) bytes[j] = j & 1 ? (char)(x = x * 1103515245u + 12345u) >> 24 : 'a';
		FILE* f = fopen((src + path).c_str(), "wb");
		fwrite(bytes.data(), 1, bytes.size(), f);
		fclose(f);
		std::string digest;
		calc_file_md5(src + path, digest);
		list += digest + " " + path + "\n";
		const std::string out = www + path + ext_of(path);
		sh("cd '" + src + folder_of(path) + "' && " +
		   (ext_of(path) == ".7z" ? "7z a -bd '" + out + "' '" + leaf + "'" : "zip -q '" + out + "' '" + leaf + "'") +
		   " >/dev/null");
		if (i % 2) urls += "url = \"http://127.0.0.1/" + path + ext_of(path) + "\"\noutput = \"" + dir + "curl/" + path +
		        ext_of(path) + "\"\n";
	}
	FILE* f = fopen((dir + "directory.txt").c_str(), "w");
	fputs(list.c_str(), f);
	fclose(f);
	sh("cd '" + dir + "' && zip -q www/directory.txt.zip directory.txt");
	f = fopen((dir + "urls").c_str(), "w");
	fputs(urls.c_str(), f);
	fclose(f);

	std::unique_ptr<zuz_test::Daemon> nginx(zuz_test::start_nginx(dir, www, 4));
	if (!nginx) {
		fprintf(stderr, "bench_road: nginx did not start\n");
		return 1;
	}

	// Half the installation is there beforehand, the same for both.
	auto make_local = [&](const std::string& dest) {
		fs::remove_all(dest);
		for (int i = 0; i < files; i += 2) {
			fs::create_directories(dest + folder_of(file_path(i)));
			fs::copy_file(src + file_path(i), dest + file_path(i));
		}
	};
	make_local(dir + "ours/");
	const double ours = road(dir, dir + "ours/");
	if (ours < 0) {
		fprintf(stderr, "bench_road: the road failed\n");
		return 1;
	}
	if (sh("diff -r '" + src + "' '" + dir + "ours/' >/dev/null") != 0) fprintf(stderr, "bench_road: trees differ\n");

	make_local(dir + "tools/");
	const std::string tools = dir + "tools/";
	double t0 = now();
	sh("curl -s -o /dev/null http://127.0.0.1/directory.txt.zip && cd '" + dir + "' && unzip -oq www/directory.txt.zip -d work2");
	const double t_list = now() - t0;
	t0 = now();
	sh("cd '" + tools + "' && find . -type f -print0 | xargs -0 md5sum >/dev/null");
	const double t_scan = now() - t0;
	t0 = now();
	sh("curl -s --no-progress-meter --create-dirs --parallel --parallel-max 4 -K '" + dir + "urls'");
	const double t_get = now() - t0;
	t0 = now();
	for (int i = 1; i < files; i += 2) {
		const std::string path = file_path(i), archive = dir + "curl/" + path + ext_of(path);
		const std::string into = tools + folder_of(path);
		fs::create_directories(into);
		sh(ext_of(path) == ".7z" ? "7z x -y -bd -o'" + into + "' '" + archive + "' >/dev/null"
		                         : "unzip -oq '" + archive + "' -d '" + into + "'");
	}
	const double t_unpack = now() - t0;
	const double sum = t_list + t_scan + t_get + t_unpack;

	rusage ru;
	getrusage(RUSAGE_SELF, &ru);
	printf("%d files, %.0f MB: road %.2f s; tools %.2f s (file list %.2f, md5sum %.2f, curl %.2f, unzip/7z %.2f)\n",
	       files, files * (double)kb / 1024, ours, sum, t_list, t_scan, t_get, t_unpack);
	printf("road / tools = %.2f (goal at most 1.2); peak resident memory %ld MB\n", ours / sum, ru.ru_maxrss / 1024);
	nginx.reset();
	fs::remove_all(dir);
	return 0;
}
