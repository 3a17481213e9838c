#include "fuzz_common.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <set>

// What cannot go is left: the next input still runs.
static int remove_one(const char* path, const struct stat*, int, struct FTW*)
{
	remove(path);
	return 0;
}

void fuzz_remove(const std::string& path)
{
	nftw(path.c_str(), remove_one, 16, FTW_DEPTH | FTW_PHYS);
}

const std::string& fuzz_scratch()
{
	static const std::string folder = [] {
		const char* tmp = getenv("TMPDIR");
		std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/zuz-fuzz-XXXXXX";
		if (!mkdtemp(templ.data())) abort();
		atexit([] { fuzz_remove(fuzz_scratch()); });
		return templ + "/";
	}();
	return folder;
}

void fuzz_write(const std::string& path, const void* data, size_t size)
{
	for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
		mkdir(path.substr(0, slash).c_str(), 0755);
	FILE* f = fopen(path.c_str(), "wb");
	if (!f || fwrite(data, 1, size, f) != size || fclose(f) != 0) abort();
}

std::string fuzz_listing(const std::string& folder)
{
	std::set<std::string> names;
	if (DIR* d = opendir(folder.c_str())) {
		while (dirent* e = readdir(d))
			if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.insert(e->d_name);
		closedir(d);
	}
	std::string list;
	for (const std::string& n : names) list += n + "\n";
	return list;
}

void fuzz_extract_contained(const char* kind, const uint8_t* data, size_t size, const std::string& archive,
                            const std::string& keep,
                            int (*extract)(const std::string& archive, const std::string& folder, int rename))
{
	if (size < 1) return;
	const std::string root = fuzz_scratch() + kind + "/", out = root + "a/b/out/";
	fuzz_remove(root);
	fuzz_write(root + archive, data + 1, size - 1);
	fuzz_write(out + keep, "", 0);
	extract(root + archive, out, data[0] & 1);
	if (fuzz_listing(root) != "a\n" + archive + "\n" || fuzz_listing(root + "a/") != "b\n" ||
	    fuzz_listing(root + "a/b/") != "out\n")
		abort();
}
