#include "Files/dsf_errors.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "Files/dsf_library.h"
#include "GenC/MACIBM_alert.h"
#include "GenC/hl_globals.h"

static const char* const dsf_err_src = "ZUzuvir/Files/dsf_errors";

static const int dsf_msg_bytes = 4096;

// Paths from third-party scenery can be any length: the message is cut to the
// buffer, and a cut through a UTF-8 character drops the character's lead bytes.
static void format_message(char* buf, const char* fmt, va_list args)
{
	const int n = vsnprintf(buf, dsf_msg_bytes, fmt, args);
	if (n < dsf_msg_bytes) return;
	size_t len = dsf_msg_bytes - 1;
	size_t cont = 0;
	while (cont < 3 && cont < len && ((unsigned char)buf[len - 1 - cont] & 0xC0) == 0x80) ++cont;
	const unsigned char lead = (unsigned char)buf[len - 1 - cont];
	const size_t need = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
	if (lead >= 0xC0 && cont < need) len -= cont + 1;
	buf[len] = 0;
}

static void log_report(const char* file, int line, const char* path, const char* msg)
{
	xer << "***Error with scenery file \"" << path << "\" (" << file << ": " << line << ".)\n  " << msg << "\n";
}

// The first package whose folder and the path agree over the shorter length; -1 for none.
static int find_package(const char* path)
{
	const size_t plen = strlen(path);
	for (size_t i = 0; i < scenery_packages.size(); ++i) {
		const std::string& pkg = scenery_packages[i];
		if (memcmp(pkg.data(), path, pkg.size() < plen ? pkg.size() : plen) == 0) return (int)i;
	}
	return -1;
}

static void set_problem(int i)
{
	if ((size_t)i >= package_problems.size()) package_problems.resize(i + 1, 0);
	package_problems[i] = 1;
}

// Formats the message, logs its block and finds the package the path lies in.
static int report(const char* file, int line, const char* path, const char* fmt, va_list args)
{
	static char msg[dsf_msg_bytes];
	format_message(msg, fmt, args);
	log_report(file, line, path, msg);
	return find_package(path);
}

void __DSF_NonFatalError(const char* file, int line, const char* path, const char* fmt, ...)
{
	va_list args;
	va_start(args, fmt);
	const int i = report(file, line, path, fmt, args);
	va_end(args);
	if (i < 0) {
		__MACIBM_alert(0, "Error loading the scenery package:", path, "The scenery may not look correct.",
		               "Please see the log.txt file for detailed error information.", t_alert, dsf_err_src,
		               __LINE__);
	} else if ((size_t)i >= package_problems.size() || !package_problems[i]) {
		set_problem(i);
		__MACIBM_alert(0, "Error loading the scenery package:", scenery_packages[i],
		               "The scenery may not look correct.",
		               "Please see the log.txt file for detailed error information.", t_alert, dsf_err_src,
		               __LINE__);
	}
	xer.flush();
}

void __DSF_FatalError(const char* file, int line, const char* path, const char* fmt, ...)
{
	va_list args;
	va_start(args, fmt);
	const int i = report(file, line, path, fmt, args);
	va_end(args);
	if (i < 0) {
		__MACIBM_alert(0, "Error loading the scenery package:", path, "Nimbara cannot run with this corrupt file.",
		               "Please see the log.txt file for detailed error information.", t_exit, dsf_err_src,
		               __LINE__);
	} else {
		set_problem(i);
		const bool custom = (size_t)i < package_is_custom.size() && package_is_custom[i];
		__MACIBM_alert(0, "Error loading the scenery package:", scenery_packages[i],
		               custom ? "Nimbara cannot run with this package installed - you may need to remove the "
		                        "custom  scenery package."
		                      : "Nimbara cannot run with this package installed - You may need to reinstall Nimbara.",
		               "Please see the log.txt file for detailed error information.", t_exit, dsf_err_src,
		               __LINE__);
	}
	xer.flush();
}
