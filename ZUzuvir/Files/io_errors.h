// The numbered error codes of the file and archive operations and their messages.
// Codes: 0 success, the program's own from 20001, system errno values (positive)
// and Mac OS file-manager codes (negative).
#ifndef IO_ERRORS_H
#define IO_ERRORS_H

#include <string>

struct err_msg_rec {
	int         code;
	const char* msg;
};

// Ends with a record whose message is null.
extern const err_msg_rec kErrMsgs[];

// The message of `code`, or "Unknown error occurred (code)". Not reentrant: the
// unknown-code text is formatted in one static buffer.
std::string error_str(int code);

#endif
