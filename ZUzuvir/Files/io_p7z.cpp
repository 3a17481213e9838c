// 7z archives: extraction through the archive reader over our own file callbacks,
// and creation with the external "7za".
#include <archive_entry.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Files/io_archive.h"
#include "Files/io_utils.h"
#include "Platform/plat_system.h"

extern char** environ;

// The open archive file the callbacks read, and the block they hand out.
struct p7z_stream {
	FILE* file;
	char  buffer[1 << 16];
};

la_ssize_t SzFileReadImp(struct archive*, void* stream, const void** buffer)
{
	p7z_stream* s = (p7z_stream*)stream;
	*buffer = s->buffer;
	// A short count is the end of the file.
	return (la_ssize_t)fread(s->buffer, 1, sizeof(s->buffer), s->file);
}

la_int64_t SzFileSeekImp(struct archive*, void* stream, la_int64_t position, int whence)
{
	FILE* f = ((p7z_stream*)stream)->file;
	if (fseeko(f, (off_t)position, whence) != 0) return ARCHIVE_FATAL;
	return (la_int64_t)ftello(f);
}

static la_int64_t SzFileSkipImp(struct archive*, void* stream, la_int64_t request)
{
	FILE* f = ((p7z_stream*)stream)->file;
	return fseeko(f, (off_t)request, SEEK_CUR) == 0 ? request : 0;
}

// Writes the current entry's data to path. 0, errno, 20004 for a short write, or
// 20002 when the archive's data is damaged (a CRC mismatch is only a warning to
// the reader, and must not pass as good). A link's data is its target text,
// which the reader hands out as the target instead.
static int p7z_extract_one(struct archive* a, struct archive_entry* entry, const std::string& path)
{
	io_part_file out;
	int err = out.open(path);
	if (err) return err;
	const char* link = archive_entry_filetype(entry) == AE_IFLNK ? archive_entry_symlink(entry) : nullptr;
	if (link && *link && out.write(link, strlen(link)) != 0) return 20004;
	const void* block;
	size_t size;
	la_int64_t offset;
	int r;
	while ((r = archive_read_data_block(a, &block, &size, &offset)) == ARCHIVE_OK)
		if (size && out.write(block, size) != 0) return 20004;
	if (r != ARCHIVE_EOF) return 20002;
	return out.commit();
}

int p7z_to_file(const std::string& archive_path, const std::string& out_folder, std::string* name_out, int rename)
{
	plat_utf8_names();
	p7z_stream* stream = new p7z_stream;
	stream->file = fopen(archive_path.c_str(), "rb");
	if (!stream->file) {
		int err = errno;
		delete stream;
		return err;
	}

	struct archive* a = archive_read_new();
	archive_read_support_format_7zip(a);
	archive_read_set_read_callback(a, SzFileReadImp);
	archive_read_set_seek_callback(a, SzFileSeekImp);
	archive_read_set_skip_callback(a, SzFileSkipImp);
	archive_read_set_callback_data(a, stream);
	int err = 0;
	if (archive_read_open1(a) != ARCHIVE_OK) err = 20001;

	const std::string renamed = name_out ? *name_out : "";
	struct archive_entry* entry;
	while (!err) {
		int r = archive_read_next_header(a, &entry);
		if (r == ARCHIVE_EOF) break;
		const char* name = archive_entry_pathname(entry);
		if (r != ARCHIVE_OK || !name) {
			err = 20002;
			break;
		}
		if (archive_entry_filetype(entry) == AE_IFDIR) continue;  // folders must exist already
		const std::string leaf = rename ? renamed : name;
		if (!io_entry_name_ok(out_folder, leaf)) {
			err = 20002;
			break;
		}
		const std::string path = out_folder + leaf;
		if (name_out) *name_out = path;
		err = p7z_extract_one(a, entry, path);
	}

	archive_read_free(a);
	fclose(stream->file);
	delete stream;
	return err;
}

int file_to_p7z(const std::string& source, const std::string& archive)
{
	// The 7-Zip beside the program, else the system's.
	std::string program = plat_app_folder() + "Installer-f/7za";
	if (access(program.c_str(), X_OK) != 0) program = "7za";

	std::string add = "a", to = archive, from = source;
	char* argv[] = {program.data(), add.data(), to.data(), from.data(), nullptr};

	int pipe_fd[2];
	if (pipe(pipe_fd) != 0) return errno;
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_adddup2(&actions, pipe_fd[1], STDOUT_FILENO);
	posix_spawn_file_actions_addclose(&actions, pipe_fd[0]);
	pid_t pid;
	int err = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv, environ);
	posix_spawn_file_actions_destroy(&actions);
	close(pipe_fd[1]);
	if (err) {
		close(pipe_fd[0]);
		return err;
	}

	FILE* out = fdopen(pipe_fd[0], "r");
	int c;
	while (out && (c = fgetc(out)) != EOF) putchar(c);
	fflush(stdout);
	if (out)
		fclose(out);
	else
		close(pipe_fd[0]);

	int status;
	while (waitpid(pid, &status, 0) < 0)
		if (errno != EINTR) return errno;
	return status;
}
