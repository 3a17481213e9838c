#include "GenC/MACIBM_findPath.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>

#include "GenH/hl_string.h"

// Replaces the n bytes at `name` by the first entry of `folder` (byte order) that
// equals them ignoring case. False when there is none.
static bool repair_component(const char* folder, char* name, size_t n)
{
	DIR* d = opendir(folder);
	if (!d) return false;
	char best[256];
	bool found = false;
	while (dirent* e = readdir(d)) {
		if (strlen(e->d_name) != n || !same_ignoring_case(e->d_name, name, n)) continue;
		if (!found || memcmp(e->d_name, best, n) < 0) {
			memcpy(best, e->d_name, n);
			found = true;
		}
	}
	closedir(d);
	if (found) memcpy(name, best, n);
	return found;
}

void findPath(char* path)
{
	struct stat st;
	if (!path || !*path || lstat(path, &st) == 0) return;

	const size_t len = strlen(path);
	size_t start = 0;
	while (start < len) {
		while (start < len && path[start] == '/') ++start;
		if (start >= len) return;
		size_t stop = start;
		while (stop < len && path[stop] != '/') ++stop;
		const size_t n = stop - start;

		// The prefix up to and including this component, tested as written first.
		const char saved = path[stop];
		path[stop] = 0;
		const bool exists = lstat(path, &st) == 0;
		path[stop] = saved;

		if (!exists) {
			if (n > 255) return;
			char folder[4096];
			if (start == 0) {
				strcpy(folder, ".");
			} else {
				if (start >= sizeof(folder)) return;
				memcpy(folder, path, start);
				folder[start] = 0;
			}
			if (!repair_component(folder, path + start, n)) return;
		}
		start = stop;
	}
}
