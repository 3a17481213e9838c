#include <gtest/gtest.h>

#include <cerrno>
#include <set>

#include "Files/io_errors.h"
#include "Files/io_utils.h"
#include "zuz_test.h"

TEST(ErrorStr, MessagesAndUnknownCodes)
{
	const struct {
		int         code;
		const char* text;
	} cases[] = {
		{0, "Unknown error occurred (0)"},
		{-1, "Unknown error occurred (-1)"},
		{20013, "Unknown error occurred (20013)"},
		{-48, "duplicate file name"},
		{20012, "Part of the downloaded zip file is corrupted (the resource fork header is bad)"},
		{20007, "We were unable to connct to the network due to an internal reconnect error"},
		{20008, "We wre unable to connect to the network due to a bad state error"},
		// The rows whose numbers differ between systems follow this system's errno.
		{EAGAIN, "Resource temporarily unavailable"},
		{EDEADLK, "Resource deadlock avoided"},
		{ENOSYS, "Function not implemented"},
		{EILSEQ, "Wide character encoding error"},
		{ENOLCK, "No locks available"},
	};
	for (const auto& c : cases) EXPECT_EQ(error_str(c.code), c.text) << "code " << c.code;

	// The whole table: every message in order, with the codes that are the same on
	// every system (the program's own and the file manager's).
	int rows = 0;
	std::set<int> codes;
	std::string table;
	for (const err_msg_rec* r = kErrMsgs; r->msg; ++r, ++rows) {
		codes.insert(r->code);
		if (r->code > 100 || r->code < 0) table += std::to_string(r->code) + " ";
		table += r->msg + std::string("\n");
	}
	EXPECT_EQ(rows, 79);
	EXPECT_EQ(codes.size(), 79u) << "duplicate codes";
	EXPECT_EQ(zuz_test::md5_of(table), "0a8e1c361e892e413c0ff68222778f65") << table;

	// The rows of errors the system really reports, through the calls that report them.
	zuz_test::TempDir dir;
	make_folder(dir / "full");
	zuz_test::write_file(dir / "full/item", "x");
	EXPECT_EQ(error_str(delete_file(dir / "full/")), "Directory not empty");
	EXPECT_EQ(error_str(make_folder(dir / std::string(300, 'n'))), "File name too long");
	EXPECT_EQ(error_str(make_folder(dir / "full")), "File exists");
	EXPECT_EQ(error_str(delete_file(dir / "absent")), "No such file or directory");
}
