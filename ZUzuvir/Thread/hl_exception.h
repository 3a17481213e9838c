// Alert records: how a thread other than the main one reports what the user must
// see. The record is copied onto one of two queues that only the main thread
// drains, once per frame, through the alert routine.
#ifndef HL_EXCEPTION_H
#define HL_EXCEPTION_H

#include <string>

class exce_class {
public:
	exce_class();
	exce_class(std::string msg1, std::string msg2, std::string msg3, std::string msg4, const char* file, int line,
	           int severity);
	exce_class(const exce_class& rhs);
	exce_class& operator=(const exce_class& rhs);
	virtual ~exce_class();

	void MakeFatal();
	void Report();
	void LogAndContinue();

	std::string msg1;  // headline
	std::string msg2;
	std::string msg3;
	std::string msg4;
	const char* file;  // path under the source tree; a literal, never freed
	int         line;
	int         severity;  // 2 fatal, 1 warning, anything else dropped by the queues
};

// Posts a heap copy: severity 1 to warn_exce, 2 to quit_exce, others dropped.
// A fatal record posted off the main thread ends the calling thread.
void THREAD_send_exception(const exce_class& e);

// Reports and deletes every fatal record, then, when warnings is non-zero, every
// warning record. Only the main thread drains: elsewhere this does nothing.
void THREAD_check_exception(int warnings);

#endif
