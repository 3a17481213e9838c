// Network tests: a private network namespace with only loopback, and the real
// servers started inside it from configurations the test writes.
#ifndef ZUZ_NET_H
#define ZUZ_NET_H

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace zuz_test {

// Moves this process (once) into a network namespace of its own with loopback
// up: port 80 is free there, unknown names fail at once and nothing leaves the
// machine. Empty when it is there; otherwise why it could not.
std::string private_network();

// A server program in the foreground, killed with this process if it dies and
// stopped when the object goes.
class Daemon {
public:
	explicit Daemon(const std::vector<std::string>& argv);
	~Daemon();
	Daemon(const Daemon&) = delete;
	Daemon& operator=(const Daemon&) = delete;

private:
	pid_t pid;
};

// nginx serving the folder `root` on 127.0.0.1:80, from a configuration written
// into `dir` (ending in "/") with its pid, logs and temporary files there; the
// access log "access.log" holds one line per request: request line "|"
// user-agent. One process unless more workers are asked for. Null when it did
// not come up (dir/error.log says why).
Daemon* start_nginx(const std::string& dir, const std::string& root, int workers = 1);

// Waits up to `seconds` until something accepts TCP connections at ip:port.
bool wait_for_port(const char* ip, int port, double seconds);

// A listening TCP socket on 127.0.0.2:80, the test host of the scripted
// servers; -1 when it cannot be had.
int listen_on_test_host(int backlog);

// Polls until `holds` does; false when it still does not after `seconds`,
// a bound against a hang rather than a time to meet.
bool within(double seconds, const std::function<bool()>& holds);

// Seconds on a steady clock: the bound every polling loop of a test keeps to.
double now_seconds();

}  // namespace zuz_test

// Skips the test, saying why, where no private network can be had.
#define ZUZ_NEED_PRIVATE_NETWORK()                                  \
	do {                                                            \
		std::string why_ = zuz_test::private_network();             \
		if (!why_.empty()) GTEST_SKIP() << why_;                    \
	} while (0)

#endif
