#include <gtest/gtest.h>

#include <cerrno>
#include <set>

#include "Files/io_errors.h"

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
		{ENAMETOOLONG, "File name too long"},
		{ENOSYS, "Function not implemented"},
		{ENOTEMPTY, "Directory not empty"},
		{EILSEQ, "Wide character encoding error"},
		{ENOLCK, "No locks available"},
		{ENOENT, "No such file or directory"},
		{EEXIST, "File exists"},
	};
	for (const auto& c : cases) EXPECT_EQ(error_str(c.code), c.text) << "code " << c.code;

	int rows = 0;
	std::set<int> codes;
	for (const err_msg_rec* r = kErrMsgs; r->msg; ++r, ++rows) codes.insert(r->code);
	EXPECT_EQ(rows, 79);
	EXPECT_EQ(codes.size(), 79u) << "duplicate codes";
}
