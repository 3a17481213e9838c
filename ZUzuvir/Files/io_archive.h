// Zip and 7z archives of the file layer (their failures name the source
// "ZUzuvir/Files/io_utils" in sErrFile): zip extraction with modes, times, links
// and AppleDouble fork records; zip creation; 7z extraction and creation.
// Main thread only. Results are the numbered codes of io_errors.h.
#ifndef IO_ARCHIVE_H
#define IO_ARCHIVE_H

#include <archive.h>
#include <minizip/unzip.h>

#include <cstdio>
#include <string>

// The 24 bytes every AppleDouble fork record begins with.
extern const unsigned char kAppleHeader[24];
// The first 46 bytes of the fork record file_to_zip writes: header, two
// entries (Finder information at 50, 32 bytes; resource fork at 82), the
// fork's length following.
extern const unsigned char kMagicCrap[46];

// An entry's information as minizip gives it, the archive it lies in, and
// where its local header lies when it is read past minizip (entries whose
// sizes or place need the zip64 field).
struct zip_entry_info : unz_file_info64 {
	int      fd = -1;            // the archive
	ZPOS64_T archive_size = 0;   // its bytes: no entry's data reaches past them
	bool     direct = false;     // false: minizip reads the entry
	ZPOS64_T local_at = 0;       // its local header, when direct
};

// Extracts zip_path into out_folder (ending in "/"), both relative. first_name
// (when given) receives the first entry's stored name; with rename set the
// first entry is written under the name passed in first_name. 0 or a code.
int zip_to_file(const std::string& zip_path, const std::string& out_folder, std::string* first_name, int rename);
// The current entry's AppleDouble record applied to the file at path (its "._"
// removed), and the current entry made a symbolic link at path.
int unzip_resource_fork(unzFile archive, const std::string& path, const zip_entry_info& info);
int unzip_symlink(unzFile archive, const std::string& path, const zip_entry_info& info);

// Packs one file (relative) into a new zip archive (relative): its bytes, mode
// and time, a link as a link, its resource fork as a "__MACOSX/._" record.
int file_to_zip(const std::string& source, const std::string& zip_path);

// Extracts the files of a 7z archive into out_folder (ending in "/"), whose
// folders must exist. name_out (when given) ends with the last file's path.
int p7z_to_file(const std::string& archive_path, const std::string& out_folder, std::string* name_out, int rename);
// The archive reader's callbacks over the p7z_stream it is handed.
la_ssize_t SzFileReadImp(struct archive* a, void* stream, const void** buffer);
la_int64_t SzFileSeekImp(struct archive* a, void* stream, la_int64_t position, int whence);
// Packs source into archive with the external "7za"; its output goes to
// standard output. The program's wait status, or errno when it cannot start.
int file_to_p7z(const std::string& source, const std::string& archive);

// Pieces both extractors share.

// Whether an entry named `name` may be written under `folder`: not absolute, no
// ".." component, and no folder on its way that is a symbolic link.
bool io_entry_name_ok(const std::string& folder, const std::string& name);

// A file written beside its target under a temporary name and moved over the
// target only when whole, so a failure never leaves half a file in its place.
class io_part_file {
public:
	~io_part_file() { discard(); }
	int open(const std::string& target);  // 0 or errno
	int fd() const { return file; }
	int write(const void* data, size_t n);  // 0 or errno (EIO for a write of 0)
	int commit();                           // close and rename; 0 or errno
	void discard();                         // removes the temporary file

private:
	std::string target, part;
	int         file = -1;
};

#endif
