// HTTP downloads: one HTTP/1.1 exchange per down_class, and six polled download
// slots in the global `http`, which also carries the proxy settings the
// preference reader fills. Nothing here waits on the network; main thread only.
#ifndef HTTP_H
#define HTTP_H

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

class PCSBSocket;

// Host-name suffixes that never go through the proxy.
extern std::vector<std::string> gProxyExclude;

bool        UseProxy(const std::string& host, uint16_t port);
std::string ProxyHost(const std::string& host, uint16_t port);
uint16_t    ProxyPort(const std::string& host, uint16_t port);

// The most a reply's header block may take before the transfer fails.
const size_t http_max_header_bytes = 64 * 1024;

class down_class {
public:
	// Resolves, connects and builds the request; sends nothing yet. `file` is
	// relative to app_path; null keeps the body in recv_buf.
	down_class(const std::string& server, uint16_t port, const std::string& path, bool post,
	           const std::map<std::string, std::string>& headers, const char* body, int body_len,
	           const char* file);
	~down_class();
	down_class(const down_class&) = delete;
	down_class& operator=(const down_class&) = delete;

	void DoProcessing();  // one poll step

	int   GetStat();  // 0 no socket, 1 connecting, 2 failed, 3 closed, 4 sending, 5 body, 6 awaiting headers
	bool  IsDone() { return GetStat() == 3; }
	bool  IsComplete() { return content_length == received; }
	bool  IsErr();
	int   GetOSErr();
	float GetPercentDone();
	// Closes the body file; false (and `error` set) when its bytes did not all
	// reach the disk.
	bool  CloseFile();

	PCSBSocket*                        sock;
	std::vector<char>                  send_buf;
	std::vector<char>                  recv_buf;
	unsigned char                      headers_done;
	int                                status_code;
	std::string                        reason;
	std::map<std::string, std::string> resp_headers;
	FILE*                              out;
	std::string                        path;
	int                                error;
	long long                          content_length;  // -1 until read
	long long                          received;
	float                              last_time;
	size_t                             header_bytes;  // of the reply's header blocks so far

private:
	bool parse_headers();
	void fail(int err);
};

class http_class {
public:
	// 0 running (call again), 1 done, 2 failed; both free the slot.
	int net_check(int slot_num, std::string server, std::string file_path, const std::string& local_file);

	std::string proxy_host;       // empty: no proxy
	std::string proxy_port_text;  // the port as the user typed it
	int         proxy_port = 0;   // port used for connections; 0: no proxy
	down_class* slot[6] = {};     // null: idle
};
extern http_class http;
extern int ot_inited;

#endif
