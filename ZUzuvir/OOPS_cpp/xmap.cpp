#include "OOPS_cpp/xmap.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "Files/io_utils.h"
#include "GenC/MACIBM_alert.h"
#include "GenC/hl_globals.h"

static const char* const xmap_src = "ZUzuvir/OOPS_cpp/xmap";

int mapped_files_open = 0;

// Where an empty file "is": present, but nothing to unmap.
static const char empty_file_marker[1] = {0};

// Every scanner stops at `end`: a file that fills whole pages has no byte after it.
static bool is_blank(char c)
{
	return c == ' ' || c == '\t';
}
static bool is_eoln(char c)
{
	return c == 0 || c == '\r' || c == '\n';
}
static bool is_white(char c)
{
	return is_blank(c) || is_eoln(c);
}
static const char* skip_blanks(const char* p, const char* end)
{
	while (p < end && is_blank(*p)) ++p;
	return p;
}
static const char* skip_to_eoln(const char* p, const char* end)
{
	while (p < end && !is_eoln(*p)) ++p;
	return p;
}
static const char* skip_white(const char* p, const char* end)
{
	while (p < end && is_white(*p)) ++p;
	return p;
}

xmap_class::xmap_class(const std::string& p) : io_dir(0)
{
	if (!p.empty()) retry(p);
}

xmap_class::~xmap_class()
{
	release();
}

void xmap_class::release()
{
	if (base && base != empty_file_marker) {
		munmap((void*)base, (size_t)(end - base));
		--mapped_files_open;
	} else if (base) {
		--mapped_files_open;
	}
	if (fd != 0) close(fd);
	fd = 0;
	base = cursor = end = nullptr;
}

const char* xmap_class::retry(const std::string& p)
{
	if (!app_path.empty() && p.find(app_path) != std::string::npos)
		__MACIBM_alert(0, "retry: We are getting a file string that is not Cirrolux relative!",
		               "This is illegal! All paths must be Cirrolux relative!", "The path in question is:", p, t_exit,
		               xmap_src, 122);
	// Only the backslash: on this system ":" is an ordinary character of a name
	// (the user's installation folder may hold one).
	if (p.find('\\') != std::string::npos)
		__MACIBM_alert(0, "OOPS!", "I got a bad dirchar! I only want '/'!", "The path in question is:", p, t_exit,
		               xmap_src, 128);

	const std::string full = io_case_repair(io_full_path(p));
	release();

	// Without O_NONBLOCK a FIFO would wait here for a writer forever.
	int f = open(full.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	if (f < 0) return nullptr;
	struct stat st;
	// Only regular files map; a folder would report a meaningless size.
	if (fstat(f, &st) != 0 || !S_ISREG(st.st_mode)) {
		close(f);
		return nullptr;
	}
	++mapped_files_open;
	const off_t size = lseek(f, 0, SEEK_END);

	if (size <= 0) {
		base = end = empty_file_marker;
	} else {
		void* m = mmap(nullptr, (size_t)size, PROT_READ, MAP_SHARED, f, 0);
		if (m == MAP_FAILED) {
			const int err = errno;
			xer << "Mem file error.  Err=" << err << ", file=" << full << "\n";
			close(f);
			--mapped_files_open;
			if (err == ENOMEM)
				__MACIBM_alert(0, "Xmapped out of memory", "c_path=", full, "errno=12.000000", t_exit, xmap_src, 172);
			return nullptr;
		}
		if (!m) __MACIBM_alert(0, "Xmapped file ran out of memory", "", "", "", t_exit, xmap_src, 166);
		// Read front to back by every user; the readahead can run further.
		madvise(m, (size_t)size, MADV_SEQUENTIAL);
		base = (const char*)m;
		end = base + size;
	}
	// The mapping outlives the descriptor. Closing now also means a descriptor 0
	// (no standard input) is never mistaken for "none" and leaked.
	close(f);
	fd = 0;
	cursor = base;
	return base;
}

int xmap_class::check_file(int type, const int* versions, const char* signature, std::string* rest)
{
	if (type != io_type_binary && type != io_type_text)
		__MACIBM_alert(0, "Bad check_file type!", path, "", "", t_exit, xmap_src, 12);
	if (!base || base == end) return 0;

	const char* p = base;
	int version = 0;
	if (type == io_type_binary) {
		const char letter = *p++;
		if (letter == 'a')
			swap = 1;
		else if (letter == 'i')
			swap = 0;
		else {
			cursor = base;
			return 0;
		}
		if (end - p >= 4) {
			unsigned char b[4];
			memcpy(b, p, 4);
			p += 4;
			uint32_t v = swap ? ((uint32_t)b[0] << 24 | (uint32_t)b[1] << 16 | (uint32_t)b[2] << 8 | b[3])
			                  : ((uint32_t)b[3] << 24 | (uint32_t)b[2] << 16 | (uint32_t)b[1] << 8 | b[0]);
			version = (int)v;
		} else {
			p = end;
		}
	} else {
		const char letter = *p++;
		p = skip_blanks(p, end);
		p = skip_to_eoln(p, end);
		p = skip_white(p, end);
		if (letter != 'A' && letter != 'I') {
			cursor = p;
			return 0;
		}
		p = skip_blanks(p, end);
		int sign = 1;
		if (p < end && *p == '-') {
			sign = -1;
			++p;
		}
		if (p < end && *p == '+') {
			sign = 1;
			++p;
		}
		// Any byte before the blank counts as a digit; unsigned arithmetic wraps
		// instead of overflowing on such lines.
		uint32_t value = 0;
		while (p < end && !is_white(*p)) value = value * 10u + (uint32_t)((unsigned char)*p++ - 48);
		version = (int)(sign < 0 ? 0u - value : value);
		p = skip_blanks(p, end);
		const char* text = p;
		p = skip_to_eoln(p, end);
		if (rest) rest->assign(text, (size_t)(p - text));
		p = skip_white(p, end);
	}
	cursor = p;

	bool listed = false;
	for (const int* v = versions; v && *v; ++v)
		if (*v == version) listed = true;
	if (!listed) return 0;
	if (!signature) return version;

	p = skip_blanks(cursor, end);
	cursor = p;
	const size_t n = strlen(signature);
	if ((size_t)(end - p) < n || memcmp(p, signature, n) != 0) return 0;
	if (p + n < end && !is_white(p[n])) return 0;
	p = skip_blanks(p + n, end);
	p = skip_to_eoln(p, end);
	cursor = skip_white(p, end);
	return version;
}

void xmap_class::read_n_rev(void* dst, size_t n)
{
	if (!cursor || n > (size_t)(end - cursor))
		__MACIBM_alert(0, "Invalid read_n_rev read!", "", "", "", t_exit, xmap_src, 53);
	memcpy(dst, cursor, n);
	cursor += n;
	if (swap) {
		unsigned char* b = (unsigned char*)dst;
		for (size_t w = 0; w < n / 4; ++w, b += 4) {
			std::swap(b[0], b[3]);
			std::swap(b[1], b[2]);
		}
	}
}

int xmap_class::io_file_open(int dir, const std::string& p, const int* versions, int type)
{
	io_dir = dir;
	if (dir == 1) return ouf_open(p, type, versions[0], "no-copyright-string");
	if (dir == 0) return retry(p) && check_file(type, versions, nullptr, nullptr) != 0 ? 1 : 0;
	return 0;
}

void xmap_class::io_file_close()
{
	if (io_dir == 1) ouf.close();
}

void xmap_class::TXT_str_scan_space(std::string* out)
{
	if (!cursor) return;
	const char* p = skip_blanks(cursor, end);
	const char* word = p;
	while (p < end && !is_white(*p)) ++p;
	if (out) out->assign(word, (size_t)(p - word));
	cursor = p;
}

void xmap_class::TXT_str_scan_eoln(std::string* out)
{
	if (!cursor) return;
	const char* p = skip_blanks(cursor, end);
	const char* text = p;
	p = skip_to_eoln(p, end);
	if (out) out->assign(text, (size_t)(p - text));
	cursor = skip_white(p, end);
}

void xmap_class::TXT_xer_line()
{
	if (!cursor) return;
	long lf = 0, cr = 0;
	for (const char* p = base; p < cursor; ++p) {
		if (*p == '\n') ++lf;
		if (*p == '\r') ++cr;
	}
	const char* stop = cursor;
	while (stop < end && *stop != '\r' && *stop != '\n') ++stop;
	xer << 1 + (lf > cr ? lf : cr) << " \"";
	xer.write(cursor, stop - cursor);
	xer << "\"\n";
	xer.flush();
}
