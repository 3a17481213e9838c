// Zip extraction: each entry in archive order becomes a folder, a file with its
// Unix mode and time, a symbolic link, or the Finder information and resource
// fork ("__MACOSX/" records) of a file extracted before it.
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "Files/io_archive.h"
#include "Files/io_utils.h"
#include "GenC/hl_globals.h"

const unsigned char kAppleHeader[24] = {0x00, 0x05, 0x16, 0x07, 0x00, 0x02, 0x00, 0x00};

static const uLong unix_link = 0xA000;

struct free_deleter {
	void operator()(char* p) const { free(p); }
};
using entry_bytes = std::unique_ptr<char, free_deleter>;

// The most bytes an entry's data can expand to: stored data as it is; deflate
// at best 1032 to 1 (a 258-byte match in 2 bits). Other methods go unchecked.
static uLong entry_size_bound(const unz_file_info& info)
{
	if (info.compression_method == 0) return info.compressed_size;
	if (info.compression_method == Z_DEFLATED) return (info.compressed_size + 1) * 1032;
	return ~(uLong)0;
}

// Reads the current entry whole: open, allocate, read, close (the CRC check).
// lines: the four failure lines of the caller's steps, in that order.
static int read_entry(unzFile archive, const unz_file_info& info, entry_bytes& out, const int lines[4])
{
	int err = unzOpenCurrentFile(archive);
	if (err != UNZ_OK) return io_fail_at(err, lines[0]);
	// The buffer takes the size the archive declares: a size beyond what the
	// entry's data can hold is damage, refused before it is allocated.
	if (info.uncompressed_size > entry_size_bound(info)) {
		unzCloseCurrentFile(archive);
		return io_fail_at(20002, lines[2]);
	}
	out.reset((char*)malloc(info.uncompressed_size ? info.uncompressed_size : 1));
	if (!out) {
		unzCloseCurrentFile(archive);
		return io_fail_at(12, lines[1]);
	}
	// unzReadCurrentFile takes an unsigned count: large entries come in pieces.
	uLong done = 0;
	while (done < info.uncompressed_size) {
		const uLong want = std::min<uLong>(info.uncompressed_size - done, 1u << 30);
		int got = unzReadCurrentFile(archive, out.get() + done, (unsigned)want);
		if (got <= 0) break;
		done += (uLong)got;
	}
	if (done != info.uncompressed_size) {
		unzCloseCurrentFile(archive);
		return io_fail_at(20002, lines[2]);
	}
	err = unzCloseCurrentFile(archive);
	if (err != UNZ_OK) return io_fail_at(err, lines[3]);
	return 0;
}

static void log_entry_failure(const char* what, int err, const std::string& path)
{
	xer << what << err << ". file = " << (sErrFile ? sErrFile : "") << " line = " << sErrLine
	    << ". inFile=" << path << ".\n";
}

int unzip_symlink(unzFile archive, const std::string& path, const unz_file_info& info)
{
	static const int lines[4] = {1474, 1477, 1479, 1481};
	entry_bytes bytes;
	int err = read_entry(archive, info, bytes, lines);
	if (!err) {
		const std::string target(bytes.get(), info.uncompressed_size);
		delete_file(path);
		if (symlink(target.c_str(), path.c_str()) != 0) err = io_fail_at(-1, 1489);
	}
	if (err) log_entry_failure("Zip to symlink failed with error ", err, path);
	return err;
}

// The record of "._NAME" belongs to NAME: the path without its last "._".
static std::string fork_data_path(const std::string& path)
{
	std::string file = path;
	const size_t dot = file.rfind("._");
	if (dot != std::string::npos) file.erase(dot, 2);
	return file;
}

int unzip_resource_fork(unzFile archive, const std::string& path, const unz_file_info& info)
{
	static const int lines[4] = {1599, 1602, 1604, 1606};
	entry_bytes bytes;
	int err = read_entry(archive, info, bytes, lines);

	const std::string file = fork_data_path(path);

	plat_appledouble rec;
	if (!err && (info.uncompressed_size < sizeof(kAppleHeader) ||
	             memcmp(bytes.get(), kAppleHeader, sizeof(kAppleHeader)) != 0 ||
	             !plat_appledouble_parse(bytes.get(), info.uncompressed_size, &rec)))
		err = io_fail_at(20012, 1672);

	FSRef ref;
	if (!err && file != path && FilePathToFSRefAndName(file, &ref) == 0) {
		if (rec.finder_info) {
			int e = plat_set_finder_info(ref, plat_finder_info_from_be(rec.finder_info));
			if (e) err = io_fail_at(e, 1653);
		}
		if (!err && rec.fork && rec.fork_len > 0) {
			int e = plat_write_resource_fork(ref, rec.fork, rec.fork_len);
			if (e) err = io_fail_at(e, 1665);
		}
	}
	if (err) log_entry_failure("Unzip RF failed with error ", err, path);
	return err;
}

// A file entry: read whole and checked, then written beside the target and moved
// over it, with its mode and time.
static int unzip_file(unzFile archive, const std::string& target, const unz_file_info& info)
{
	static const int lines[4] = {1514, 1517, 1519, 1521};
	entry_bytes bytes;
	int err = read_entry(archive, info, bytes, lines);
	if (err) return err;

	io_part_file out;
	if ((err = out.open(target)) != 0) return io_fail_at(err, 1526);
	if ((err = out.write(bytes.get(), info.uncompressed_size)) != 0) return io_fail_at(err, 1534);
	// Without a Unix mode (an archive made elsewhere) the file keeps the default one.
	if (info.external_fa >> 16) fchmod(out.fd(), (mode_t)((info.external_fa >> 16) & 0777));
	if (info.external_fa) {
		struct tm t = {};
		t.tm_sec = (int)info.tmu_date.tm_sec;
		t.tm_min = (int)info.tmu_date.tm_min;
		t.tm_hour = (int)info.tmu_date.tm_hour;
		t.tm_mday = (int)info.tmu_date.tm_mday;
		t.tm_mon = (int)info.tmu_date.tm_mon;
		t.tm_year = (int)info.tmu_date.tm_year - 1900;
		t.tm_isdst = -1;
		const struct timeval tv = {mktime(&t), 0};
		const struct timeval times[2] = {tv, tv};
		if (futimes(out.fd(), times) != 0) return -1;
	}
	if ((err = out.commit()) != 0) return io_fail_at(err, 1534);
	plat_sidecar_delete(target);  // the replaced file's fork goes with it
	return 0;
}

static int unzip_fail(int err, const std::string& zip_path, const std::string& out_folder)
{
	xer << "Zip to file failed with error err = " << err << ". file = " << (sErrFile ? sErrFile : "")
	    << " line = " << sErrLine << ". zip_file=" << zip_path << ", out_directory=" << out_folder << ".\n";
	return err;
}

int zip_to_file(const std::string& zip_path, const std::string& out_folder, std::string* first_name, int rename)
{
	const std::string zip = io_full_path(zip_path), folder = io_full_path(out_folder);
	const std::string renamed = first_name ? *first_name : "";

	unzFile archive = unzOpen64(zip.c_str());
	if (!archive) {
		xer << "OK I am about to report that I could not open a zip file for extraction!\n";
		xer << "That incoming file is " << zip << "\n";
		xer << "In c-form, it is " << zip << "\n";
		xer << "The size is " << zip.size() << "\n";
		io_fail_at(20001, 1712);
		return unzip_fail(20001, zip, folder);
	}

	int next = unzGoToFirstFile(archive);
	for (bool first = true; next == UNZ_OK; first = false) {
		unz_file_info info;
		int err = unzGetCurrentFileInfo(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0);
		// The name as long as the entry says: a short buffer gets it unterminated.
		std::string name(info.size_filename, '\0');
		if (err == UNZ_OK)
			err = unzGetCurrentFileInfo(archive, &info, name.data(), info.size_filename, nullptr, 0, nullptr, 0);
		if (err != UNZ_OK) {
			xer << "unzGetCurrentFileInfo err != UNZ_OK! err=" << err << "\n";
			if (err == UNZ_END_OF_LIST_OF_FILE) break;
			io_fail_at(err, 1762);
			unzClose(archive);
			return unzip_fail(err, zip, folder);
		}
		name.resize(strnlen(name.c_str(), name.size()));

		const std::string target = folder + (rename && first ? renamed : name);
		if (first && first_name) *first_name = name;

		const bool is_fork = name.compare(0, 8, "__MACOSX") == 0;
		if (!is_fork && !io_entry_name_ok(folder, rename && first ? renamed : name)) {
			err = io_fail_at(20002, 1519);
		} else if (!name.empty() && name.back() == '/') {
			if (!is_fork) {
				int made = make_folder(target);
				if (made != 0 && made != 17 && made != -48) err = made;
			}
		} else if (is_fork) {
			// Records live under "__MACOSX/"; the file they apply to (its "._"
			// removed, which can make a "..") must lie inside the folder too.
			const std::string rest = name.size() > 9 ? name.substr(9) : "";
			// A record without a "._" names no file: its path's last "._" would
			// be one of the folder's own, naming a file outside it.
			if (name.compare(0, 9, "__MACOSX/") != 0 || !io_entry_name_ok(folder, fork_data_path(rest)))
				err = io_fail_at(20012, 1672);
			else if (rest.find("._") != std::string::npos)
				err = unzip_resource_fork(archive, folder + rest, info);
		} else if (((info.external_fa >> 16) & unix_link) == unix_link) {
			err = unzip_symlink(archive, target, info);
		} else {
			err = unzip_file(archive, target, info);
			if (err) log_entry_failure("Zip to file failed with error ", err, target);
		}

		if (err) {
			xer << "UNZIP zip_to_file failed with err=" << err << "\n";
			io_fail_at(err, 1751);
			unzClose(archive);
			return unzip_fail(err, zip, folder);
		}
		next = unzGoToNextFile(archive);
	}
	if (next != UNZ_OK && next != UNZ_END_OF_LIST_OF_FILE) {
		io_fail_at(next, 1762);
		unzClose(archive);
		return unzip_fail(next, zip, folder);
	}
	unzClose(archive);
	return 0;
}
