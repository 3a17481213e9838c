// Zip extraction: each entry in archive order becomes a folder, a file with its
// Unix mode and time, a symbolic link, or the Finder information and resource
// fork ("__MACOSX/" records) of a file extracted before it.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

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
static ZPOS64_T entry_size_bound(const unz_file_info64& info)
{
	const ZPOS64_T unbounded = ~(ZPOS64_T)0;
	if (info.compression_method == 0) return info.compressed_size;
	if (info.compression_method == Z_DEFLATED && info.compressed_size < unbounded / 1032 - 1)
		return (info.compressed_size + 1) * 1032;
	return unbounded;
}

static bool read_at(int fd, void* to, size_t n, ZPOS64_T at)
{
	char* p = (char*)to;
	while (n) {
		const ssize_t got = pread(fd, p, std::min<size_t>(n, 1u << 30), (off_t)at);
		if (got < 0 && errno == EINTR) continue;
		if (got <= 0) return false;
		p += got;
		n -= (size_t)got;
		at += (ZPOS64_T)got;
	}
	return true;
}

// minizip 1.1 looks in an entry's zip64 field only when a 32-bit field equals
// (unsigned long)-1, which on a 64-bit system it never does: an entry of 4 GiB
// or more, or one that starts past 4 GiB, comes out 0xFFFFFFFF long or placed
// at 0xFFFFFFFF. Such an entry's sizes and place are read here from its central
// record (at `central`, its extra fields as minizip gave them), and its data
// past minizip. False when that record is damaged.
static bool zip64_locate(ZPOS64_T central, const unsigned char* extra, zip_entry_info& info)
{
	info.direct = false;
	if (info.size_file_extra == 0) return true;  // no room for a zip64 field
	unsigned char rec[46];
	// Data before the archive, which minizip allows, moves every record: such
	// an archive is left to minizip.
	if (!read_at(info.fd, rec, sizeof(rec), central) || io_le32(rec) != 0x02014b50) return true;
	ZPOS64_T field[3] = {io_le32(rec + 24), io_le32(rec + 20), io_le32(rec + 42)};  // sizes, local header
	const ZPOS64_T in_zip64 = 0xFFFFFFFF;
	if (field[0] != in_zip64 && field[1] != in_zip64 && field[2] != in_zip64) return true;

	const size_t extra_len = info.size_file_extra;
	for (size_t at = 0; at + 4 <= extra_len; at += 4 + io_le16(extra + at + 2)) {
		const size_t n = std::min<size_t>(io_le16(extra + at + 2), extra_len - at - 4);
		if (io_le16(extra + at) != 1) continue;
		// The fields stand in that order, each only when its 32-bit one is full.
		size_t used = 0;
		for (ZPOS64_T& f : field) {
			if (f != in_zip64) continue;
			if (used + 8 > n) return false;
			f = io_le32(extra + at + 4 + used) | (ZPOS64_T)io_le32(extra + at + 8 + used) << 32;
			used += 8;
		}
		break;
	}
	info.uncompressed_size = field[0];
	info.compressed_size = field[1];
	info.local_at = field[2];
	info.direct = true;
	return true;
}

// Opens an entry read past minizip: its local header checked as
// unzOpenCurrentFile checks it, any damage its -103. data_at: where the
// entry's data begins.
static int zip64_open(const zip_entry_info& info, ZPOS64_T& data_at)
{
	unsigned char local[30];
	if (!read_at(info.fd, local, sizeof(local), info.local_at) || io_le32(local) != 0x04034b50) return UNZ_BADZIPFILE;
	// A local size of 0xFFFFFFFF stands for its zip64 field, as the central one does.
	const auto differs = [](ZPOS64_T local_size, ZPOS64_T size) {
		return local_size != 0xFFFFFFFF && local_size != size;
	};
	const bool descriptor = io_le16(local + 6) & 8;  // CRC and sizes follow the data
	if (io_le16(local + 8) != info.compression_method ||
	    (info.compression_method != 0 && info.compression_method != Z_DEFLATED) ||
	    io_le16(local + 26) != info.size_filename ||
	    (!descriptor && (io_le32(local + 14) != info.crc || differs(io_le32(local + 18), info.compressed_size) ||
	                     differs(io_le32(local + 22), info.uncompressed_size))))
		return UNZ_BADZIPFILE;
	data_at = info.local_at + sizeof(local) + io_le16(local + 26) + io_le16(local + 28);
	return UNZ_OK;
}

// An entry's data read past minizip from data_at, stored or deflated, checked
// as minizip checks it: the declared size (20002) and the CRC (its -105).
static int read_entry_direct(const zip_entry_info& info, ZPOS64_T data_at, char* out, const int lines[4])
{
	const ZPOS64_T size = info.uncompressed_size;
	if (info.compression_method == 0) {
		if (info.compressed_size != size || !read_at(info.fd, out, size, data_at))
			return io_fail_at(20002, lines[2]);
	} else {
		z_stream z = {};
		if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return io_fail_at(UNZ_INTERNALERROR, lines[0]);
		std::unique_ptr<unsigned char[]> in(new unsigned char[1 << 20]);
		ZPOS64_T taken = 0, made = 0;
		int r = Z_OK;
		while (r == Z_OK) {
			if (z.avail_in == 0 && taken < info.compressed_size) {
				const size_t n = std::min<ZPOS64_T>(1 << 20, info.compressed_size - taken);
				if (!read_at(info.fd, in.get(), n, data_at + taken)) break;
				z.next_in = in.get();
				z.avail_in = (uInt)n;
				taken += n;
			}
			// inflate takes an unsigned count: large entries come in pieces.
			z.next_out = (Bytef*)out + made;
			z.avail_out = (uInt)std::min<ZPOS64_T>(size - made, 1u << 30);
			r = inflate(&z, Z_NO_FLUSH);
			made = (ZPOS64_T)((char*)z.next_out - out);
		}
		inflateEnd(&z);
		if (r != Z_STREAM_END || made != size) return io_fail_at(20002, lines[2]);
	}
	if (crc32_z(0, (const Bytef*)out, size) != info.crc) return io_fail_at(UNZ_CRCERROR, lines[3]);
	return 0;
}

// Reads the current entry whole: open, allocate, read, close (the CRC check).
// lines: the four failure lines of the caller's steps, in that order.
static int read_entry(unzFile archive, const zip_entry_info& info, entry_bytes& out, const int lines[4])
{
	ZPOS64_T data_at = 0;
	int err = info.direct ? zip64_open(info, data_at) : unzOpenCurrentFile(archive);
	if (err != UNZ_OK) return io_fail_at(err, lines[0]);
	if (!info.direct) data_at = unzGetCurrentFileZStreamPos64(archive);
	auto fail = [&](int code, int line) {
		if (!info.direct) unzCloseCurrentFile(archive);
		return io_fail_at(code, line);
	};
	// The buffer takes the size the archive declares: data declared past the
	// archive's end, or a size beyond what that data can hold, is damage,
	// refused before anything is allocated.
	if (info.compressed_size > info.archive_size - std::min(data_at, info.archive_size) ||
	    info.uncompressed_size > entry_size_bound(info))
		return fail(20002, lines[2]);
	out.reset((char*)malloc(info.uncompressed_size ? info.uncompressed_size : 1));
	if (!out) return fail(12, lines[1]);
	if (info.direct) return read_entry_direct(info, data_at, out.get(), lines);

	// unzReadCurrentFile takes an unsigned count: large entries come in pieces.
	ZPOS64_T done = 0;
	while (done < info.uncompressed_size) {
		const ZPOS64_T want = std::min<ZPOS64_T>(info.uncompressed_size - done, 1u << 30);
		int got = unzReadCurrentFile(archive, out.get() + done, (unsigned)want);
		if (got <= 0) break;
		done += (ZPOS64_T)got;
	}
	if (done != info.uncompressed_size) return fail(20002, lines[2]);
	err = unzCloseCurrentFile(archive);
	if (err != UNZ_OK) return io_fail_at(err, lines[3]);
	return 0;
}

static void log_entry_failure(const char* what, int err, const std::string& path)
{
	xer << what << err << ". file = " << (sErrFile ? sErrFile : "") << " line = " << sErrLine
	    << ". inFile=" << path << ".\n";
}

int unzip_symlink(unzFile archive, const std::string& path, const zip_entry_info& info)
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

int unzip_resource_fork(unzFile archive, const std::string& path, const zip_entry_info& info)
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
static int unzip_file(unzFile archive, const std::string& target, const zip_entry_info& info)
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

	// The archive twice: minizip's, and ours for its size and the entries read
	// past minizip.
	struct fd_guard {
		int fd;
		~fd_guard() { if (fd >= 0) close(fd); }
	} file{open(zip.c_str(), O_RDONLY | O_CLOEXEC)};
	struct stat st;
	unzFile archive = file.fd >= 0 && fstat(file.fd, &st) == 0 ? unzOpen64(zip.c_str()) : nullptr;
	if (!archive) {
		xer << "OK I am about to report that I could not open a zip file for extraction!\n";
		xer << "That incoming file is " << zip << "\n";
		xer << "In c-form, it is " << zip << "\n";
		xer << "The size is " << zip.size() << "\n";
		io_fail_at(20001, 1712);
		return unzip_fail(20001, zip, folder);
	}

	// Room for the longest name and extra fields a record can hold: each entry's
	// record is read once.
	std::vector<char> name_buf(65535);
	std::vector<unsigned char> extra(65535);
	int next = unzGoToFirstFile(archive);
	for (bool first = true; next == UNZ_OK; first = false) {
		zip_entry_info info{};
		info.fd = file.fd;
		info.archive_size = (ZPOS64_T)st.st_size;
		int err = unzGetCurrentFileInfo64(archive, &info, name_buf.data(), name_buf.size(), extra.data(),
		                                  extra.size(), nullptr, 0);
		if (err == UNZ_OK && !zip64_locate(unzGetOffset64(archive), extra.data(), info))
			err = UNZ_BADZIPFILE;
		if (err != UNZ_OK) {
			xer << "unzGetCurrentFileInfo err != UNZ_OK! err=" << err << "\n";
			if (err == UNZ_END_OF_LIST_OF_FILE) break;
			io_fail_at(err, 1762);
			unzClose(archive);
			return unzip_fail(err, zip, folder);
		}
		// A name of 65535 bytes comes unterminated.
		const std::string name(name_buf.data(), strnlen(name_buf.data(), info.size_filename));

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
