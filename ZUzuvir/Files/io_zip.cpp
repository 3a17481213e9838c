// Zip creation: one file per archive, so that zip_to_file restores its bytes,
// mode, time, a link as a link, and its Finder information and resource fork.
#include <minizip/zip.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include "Files/io_archive.h"
#include "Files/io_utils.h"
#include "GenC/hl_globals.h"
#include "OOPS_cpp/xmap.h"

const unsigned char kMagicCrap[46] = {
	0x00, 0x05, 0x16, 0x07, 0x00, 0x02, 0x00, 0x00,  // AppleDouble, version 2
	0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // filler
	0x00, 0x02,                                      // two entries
	0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x32, 0x00, 0x00, 0x00, 0x20,  // Finder info at 50, 32 bytes
	0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x52};                        // resource fork at 82

// Entries are marked as made on Unix (3), zip 3.0, so that other tools also read
// their external attributes as a mode.
static const int made_on_unix = 3 << 8 | 30;

static int open_entry(zipFile zip, const std::string& name, const zip_fileinfo& info, int method, bool large)
{
	return zipOpenNewFileInZip4_64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, method,
	                               Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY,
	                               nullptr, 0, made_on_unix, 0, large ? 1 : 0);
}

// zipWriteInFileInZip takes an unsigned count: large data goes in pieces.
static int write_entry(zipFile zip, const void* data, size_t n)
{
	const char* p = (const char*)data;
	do {
		const unsigned piece = (unsigned)std::min<size_t>(n, 1u << 30);
		int err = zipWriteInFileInZip(zip, p, piece);
		if (err != ZIP_OK) return err;
		p += piece;
		n -= piece;
	} while (n);
	return ZIP_OK;
}

static int zip_fail(int err)
{
	xer << "file_to_zip failed with error " << err << ".\nfile = " << (sErrFile ? sErrFile : "")
	    << " line = " << sErrLine << "\n";
	return err;
}

// Steps that fail after the archive exists close it; what was written stays.
static int zip_abandon(zipFile zip, int err, int line)
{
	io_fail_at(err, line);
	zipClose(zip, nullptr);
	return zip_fail(err);
}

static int zip_link(const std::string& zip_path, const std::string& leaf, const std::string& target)
{
	zipFile zip = zipOpen64(zip_path.c_str(), APPEND_STATUS_CREATE);
	if (!zip) return zip_fail(io_fail_at(20003, 1275));
	zip_fileinfo info = {};
	info.external_fa = 0xA1ED0000;  // a link, mode 0755
	int err;
	if ((err = open_entry(zip, leaf, info, 0, false)) != ZIP_OK) return zip_abandon(zip, err, 1284);
	if ((err = write_entry(zip, target.data(), target.size())) != ZIP_OK) return zip_abandon(zip, err, 1286);
	if ((err = zipCloseFileInZip(zip)) != ZIP_OK) return zip_abandon(zip, err, 1288);
	if ((err = zipClose(zip, nullptr)) != ZIP_OK) return zip_fail(io_fail_at(err, 1290));
	return 0;
}

int file_to_zip(const std::string& source, const std::string& zip_path)
{
	const std::string src = io_full_path(source), zip_full = io_full_path(zip_path);
	const size_t slash = src.rfind('/');
	const std::string leaf = slash == std::string::npos ? src : src.substr(slash + 1);

	// The folder's reference and the leaf: a missing file is found missing by the
	// mapping below (20006).
	FSRef ref;
	HFSUniStr255 name;
	int err = FilePathToFSRefAndName(src, &ref, &name);
	if (err) return zip_fail(io_fail_at(err, 1263));
	const std::string path = ref.path + "/" + leaf;

	// The whole target: a cut-off one would make another link.
	char target[PATH_MAX];
	const ssize_t n = readlink(path.c_str(), target, sizeof(target));
	if (n >= 0 && n < (ssize_t)sizeof(target)) return zip_link(zip_full, leaf, std::string(target, (size_t)n));

	xmap_class map(source);
	if (!map.base) return zip_fail(io_fail_at(20006, 1302));
	const size_t size = (size_t)(map.end - map.base);

	zipFile zip = zipOpen64(zip_full.c_str(), APPEND_STATUS_CREATE);
	if (!zip) return zip_fail(io_fail_at(20003, 1308));

	zip_fileinfo info = {};
	struct stat st;
	if (stat(src.c_str(), &st) == 0) {
		struct tm t;
		localtime_r(&st.st_mtime, &t);
		info.tmz_date = {(uInt)t.tm_sec, (uInt)t.tm_min, (uInt)t.tm_hour, (uInt)t.tm_mday, (uInt)t.tm_mon,
		                 (uInt)t.tm_year + 1900};
		info.external_fa = (uLong)st.st_mode << 16;
	}
	if ((err = open_entry(zip, leaf, info, Z_DEFLATED, size >= 0xFFFFFFFFu)) != ZIP_OK)
		return zip_abandon(zip, err, 1337);
	if ((err = write_entry(zip, map.base, size)) != ZIP_OK) return zip_abandon(zip, err, 1339);
	if ((err = zipCloseFileInZip(zip)) != ZIP_OK) return zip_abandon(zip, err, 1341);

	// The resource fork and Finder information, from the file's sidecar.
	std::string fork;
	if (FilePathToFSRefAndName(src, &ref) != 0 || !plat_read_resource_fork(ref, &fork) || fork.empty()) {
		if ((err = zipClose(zip, nullptr)) != ZIP_OK) return zip_fail(io_fail_at(err, 1445));
		return 0;
	}
	if (fork.size() >= 0x80000000u) return zip_abandon(zip, 20005, 1373);
	FileInfo finder;
	if ((err = plat_get_finder_info(ref, &finder)) != 0) return zip_abandon(zip, err, 1387);

	unsigned char length[4] = {(unsigned char)(fork.size() >> 24), (unsigned char)(fork.size() >> 16),
	                           (unsigned char)(fork.size() >> 8), (unsigned char)fork.size()};
	unsigned char finder_be[32] = {};
	plat_finder_info_to_be(finder, finder_be);

	if ((err = open_entry(zip, "__MACOSX/._" + leaf, zip_fileinfo(), Z_DEFLATED, false)) != ZIP_OK)
		return zip_abandon(zip, err, 1415);
	if ((err = write_entry(zip, kMagicCrap, sizeof(kMagicCrap))) != ZIP_OK) return zip_abandon(zip, err, 1424);
	if ((err = write_entry(zip, length, 4)) != ZIP_OK) return zip_abandon(zip, err, 1426);
	if ((err = write_entry(zip, finder_be, 16)) != ZIP_OK) return zip_abandon(zip, err, 1428);
	if ((err = write_entry(zip, finder_be + 16, 16)) != ZIP_OK) return zip_abandon(zip, err, 1429);
	if ((err = write_entry(zip, fork.data(), fork.size())) != ZIP_OK) return zip_abandon(zip, err, 1430);
	if ((err = zipCloseFileInZip(zip)) != ZIP_OK) return zip_abandon(zip, err, 1431);
	if ((err = zipClose(zip, nullptr)) != ZIP_OK) return zip_fail(io_fail_at(err, 1445));
	return 0;
}
