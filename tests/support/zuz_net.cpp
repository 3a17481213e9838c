#include "zuz_net.h"

#include <arpa/inet.h>
#include <errno.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace zuz_test {

static std::string enter_namespace()
{
	if (geteuid() != 0) return "not root: a private network namespace needs root (run as root, as CI does)";
	if (unshare(CLONE_NEWNET) != 0)
		return std::string("cannot make a private network namespace: unshare: ") + strerror(errno);
	int s = socket(AF_INET, SOCK_DGRAM, 0);
	if (s < 0) return std::string("socket: ") + strerror(errno);
	ifreq ifr;
	memset(&ifr, 0, sizeof(ifr));
	strcpy(ifr.ifr_name, "lo");
	bool up = ioctl(s, SIOCGIFFLAGS, &ifr) == 0;
	ifr.ifr_flags |= IFF_UP | IFF_RUNNING;
	up = up && ioctl(s, SIOCSIFFLAGS, &ifr) == 0;
	int err = errno;
	close(s);
	if (!up) return std::string("cannot bring loopback up: ") + strerror(err);
	return "";
}

std::string private_network()
{
	static const std::string why = enter_namespace();
	return why;
}

Daemon::Daemon(const std::vector<std::string>& argv) : pid(-1)
{
	std::vector<char*> args;
	for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
	args.push_back(nullptr);
	pid_t parent = getpid();
	pid = fork();
	if (pid == 0) {
		prctl(PR_SET_PDEATHSIG, SIGKILL);
		if (getppid() != parent) _exit(127);
		execvp(args[0], args.data());
		_exit(127);
	}
}

Daemon::~Daemon()
{
	if (pid <= 0) return;
	kill(pid, SIGTERM);
	if (within(5, [this] { return waitpid(pid, nullptr, WNOHANG) != 0; })) return;
	kill(pid, SIGKILL);
	waitpid(pid, nullptr, 0);
}

Daemon* start_nginx(const std::string& d, const std::string& root, int workers)
{
	std::string conf = d + "nginx.conf";
	FILE* f = fopen(conf.c_str(), "w");
	if (!f) return nullptr;
	fprintf(f,
	        "daemon off;\nmaster_process %s;\nworker_processes %d;\nuser root;\npid %snginx.pid;\n"
	        "error_log %serror.log;\n"
	        "events { worker_connections 64; }\nhttp {\n"
	        "\tsendfile on;\n\tlog_format req '$request|$http_user_agent';\n\taccess_log %saccess.log req;\n"
	        "\tclient_body_temp_path %sbody;\n\tproxy_temp_path %sproxy;\n\tfastcgi_temp_path %sfastcgi;\n"
	        "\tuwsgi_temp_path %suwsgi;\n\tscgi_temp_path %sscgi;\n"
	        "\tserver { listen 127.0.0.1:80; root %s; }\n}\n",
	        workers > 1 ? "on" : "off", workers, d.c_str(), d.c_str(), d.c_str(), d.c_str(), d.c_str(), d.c_str(),
	        d.c_str(), d.c_str(), root.c_str());
	fclose(f);
	Daemon* nginx = new Daemon({"nginx", "-p", d, "-c", conf, "-e", d + "error.log"});
	if (wait_for_port("127.0.0.1", 80, 10)) return nginx;
	delete nginx;
	return nullptr;
}

int listen_on_test_host(int backlog)
{
	int s = socket(AF_INET, SOCK_STREAM, 0);
	int one = 1;
	setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
	sockaddr_in a = {};
	a.sin_family = AF_INET;
	a.sin_port = htons(80);
	a.sin_addr.s_addr = inet_addr("127.0.0.2");
	if (s >= 0 && bind(s, (sockaddr*)&a, sizeof(a)) == 0 && listen(s, backlog) == 0) return s;
	if (s >= 0) close(s);
	return -1;
}

bool wait_for_port(const char* ip, int port, double seconds)
{
	sockaddr_in addr;
	memset(&addr, 0, sizeof(addr));
	addr.sin_family = AF_INET;
	addr.sin_port = htons(port);
	addr.sin_addr.s_addr = inet_addr(ip);
	return within(seconds, [&] {
		int s = socket(AF_INET, SOCK_STREAM, 0);
		bool ok = connect(s, (sockaddr*)&addr, sizeof(addr)) == 0;
		close(s);
		return ok;
	});
}

bool within(double seconds, const std::function<bool()>& holds)
{
	for (const double end = now_seconds() + seconds; !holds();) {
		if (now_seconds() >= end) return false;
		std::this_thread::sleep_for(std::chrono::milliseconds(1));
	}
	return true;
}

double now_seconds()
{
	using namespace std::chrono;
	return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace zuz_test
