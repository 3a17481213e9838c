#include "Files/io_archive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <algorithm>

bool io_entry_name_ok(const std::string& folder, const std::string& name)
{
	if (name.empty() || name[0] == '/') return false;
	std::string at = folder;
	size_t start = 0;
	while (start <= name.size()) {
		size_t slash = name.find('/', start);
		const bool last = slash == std::string::npos || slash + 1 == name.size();
		if (slash == std::string::npos) slash = name.size();
		const std::string part = name.substr(start, slash - start);
		if (part == "..") return false;
		if (last) return true;
		at += part;
		// A link made by an earlier entry would carry later ones anywhere.
		struct stat st;
		if (!part.empty() && part != "." && lstat(at.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return false;
		at += "/";
		start = slash + 1;
	}
	return true;
}

int io_part_file::open(const std::string& to)
{
	discard();
	target = to;
	const size_t slash = to.rfind('/');
	const std::string dir = slash == std::string::npos ? "" : to.substr(0, slash + 1);
	const std::string leaf = to.substr(slash == std::string::npos ? 0 : slash + 1);
	// A counter rather than rand(): the program's random sequence is not ours to
	// advance. The leaf is cut so that the name stays within 255 bytes.
	static unsigned serial = 0;
	for (int tries = 0; tries < 100; ++tries) {
		char suffix[48];
		snprintf(suffix, sizeof(suffix), ".part%d-%u", (int)getpid(), serial++);
		part = dir + "." + leaf.substr(0, 200) + suffix;
		// 0666 less the umask, as a new file gets.
		file = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
		if (file >= 0) return 0;
		if (errno != EEXIST) break;
	}
	int err = errno;
	part.clear();
	return err;
}

// Whole blocks of zeros are skipped rather than written, so that an entry of
// mostly zeros becomes a sparse file. The file has its length after each call,
// so that times set afterwards stay.
static const size_t zero_block = 1 << 16;

static bool all_zero(const char* p, size_t n)
{
	return p[0] == 0 && memcmp(p, p + 1, n - 1) == 0;
}

int io_part_file::write(const void* data, size_t n)
{
	const char* p = (const char*)data;
	bool hole_at_end = false;
	while (n) {
		const size_t piece = std::min(n, zero_block);
		hole_at_end = piece == zero_block && all_zero(p, piece);
		if (hole_at_end) {
			if (lseek(file, (off_t)piece, SEEK_CUR) < 0) return errno;
			p += piece;
			n -= piece;
			continue;
		}
		ssize_t w = ::write(file, p, piece);
		if (w < 0 && errno == EINTR) continue;
		if (w <= 0) return w < 0 ? errno : EIO;
		p += w;
		n -= (size_t)w;
	}
	if (hole_at_end) {
		const off_t length = lseek(file, 0, SEEK_CUR);
		if (length < 0 || ftruncate(file, length) != 0) return errno;
	}
	return 0;
}

int io_part_file::commit()
{
	int err = ::close(file) == 0 ? 0 : errno;
	file = -1;
	if (!err && rename(part.c_str(), target.c_str()) != 0) err = errno;
	if (err) {
		discard();
		return err;
	}
	part.clear();
	return 0;
}

void io_part_file::discard()
{
	if (file >= 0) ::close(file);
	file = -1;
	if (!part.empty()) unlink(part.c_str());
	part.clear();
}
