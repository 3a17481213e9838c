#include <arpa/inet.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <random>
#include <thread>

#include "OOPS_cpp/http.h"
#include "OOPS_cpp/xtim.h"
#include "Sockets/PCSBSocket.h"
#include "zuz_net.h"
#include "zuz_test.h"

using zuz_test::now_seconds;
using zuz_test::read_file;

namespace {

// The failure report; v: IsDone, IsComplete, IsErr, GetStat, GetOSErr.
std::string report(const std::string& local, const std::string& server, const std::string& path, const int v[5],
                   const std::string& response)
{
	const char* labels[] = {"IsDone     =", "IsComplete =", "IsErr      =", "GetStat    =", "GetOSErr   ="};
	std::string r = "HTTP Error for " + local + "\n   server     =" + server + "\n   file       =" + path + "\n";
	for (int i = 0; i < 5; ++i) r += std::string("   ") + labels[i] + std::to_string(v[i]) + "\n";
	return r + "   response   =" + response + "\n\n";
}

// Each test starts with idle slots, no proxy and the clock at 100 s.
class Http : public testing::Test {
protected:
	void SetUp() override
	{
		ZUZ_NEED_PRIVATE_NETWORK();
		xtim.elapsed_time = 100;
	}
	void TearDown() override
	{
		for (down_class*& d : http.slot) delete d, d = nullptr;
		http.proxy_host.clear();
		http.proxy_port = 0;
	}
	// net_check until it answers or stop() holds, within a bound of its own.
	template <class F>
	int poll_slot(int k, const std::string& server, const std::string& path, const std::string& local, F stop)
	{
		int r = 0;
		double end = now_seconds() + 30;
		while ((r = http.net_check(k, server, path, local)) == 0 && !stop() && now_seconds() < end) {}
		return r;
	}
	std::string logged_since(size_t* mark)
	{
		std::string all = log.text(), tail = all.substr(*mark);
		*mark = all.size();
		return tail;
	}
	zuz_test::TempDir    tmp;
	zuz_test::LogCapture log;
	size_t               mark = 0;
};

const long long kSizes[] = {0, 1, 65535, 65536, 65537, 20 << 20};

TEST_F(Http, AgainstNginxAndTinyproxy)
{
	if (zuz_test::run("command -v nginx && command -v tinyproxy && command -v curl") != 0)
		FAIL() << "nginx, tinyproxy or curl is missing (scripts/deps.sh installs them)";
	std::string d = tmp.path(), www = d + "www/";
	zuz_test::run("mkdir -p " + www + "dir");
	std::mt19937 gen(7);
	for (long long size : kSizes) {
		std::string bytes(size, '\0');
		for (char& c : bytes) c = (char)gen();
		zuz_test::write_file(www + "f" + std::to_string(size), bytes);
	}
	std::unique_ptr<zuz_test::Daemon> nginx(zuz_test::start_nginx(d, www));
	ASSERT_TRUE(nginx) << read_file(d + "error.log");
	zuz_test::write_file(d + "tp.conf", "Port 8888\nListen 127.0.0.1\nPidFile \"" + d + "tp.pid\"\nLogFile \"" + d +
	                                        "tp.log\"\nLogLevel Connect\nAllow 127.0.0.1\n");
	zuz_test::Daemon proxy({"tinyproxy", "-d", "-c", d + "tp.conf"});
	ASSERT_TRUE(zuz_test::wait_for_port("127.0.0.1", 8888, 10)) << read_file(d + "tp.log");

	// Every file through slots 2 to 5 at once, each slot taking the next file as it frees.
	auto fetch_all = [&] {
		size_t next = 0, done = 0, count = sizeof(kSizes) / sizeof(kSizes[0]);
		std::string job[6];
		double end = now_seconds() + 120;
		while (done < count && now_seconds() < end)
			for (int k = 2; k <= 5; ++k) {
				if (job[k].empty() && next < count) job[k] = "f" + std::to_string(kSizes[next++]);
				if (job[k].empty()) continue;
				int r = http.net_check(k, "127.0.0.1", "/" + job[k], d + "got-" + job[k]);
				if (r == 0) continue;
				EXPECT_EQ(r, 1) << job[k];
				EXPECT_TRUE(read_file(d + "got-" + job[k]) == read_file(www + job[k])) << job[k] << " differs";
				job[k].clear();
				++done;
			}
		ASSERT_EQ(done, count) << "the downloads did not end within their bound";
	};
	// Each file's request line in the server's log, which may come a moment after the reply.
	auto logged = [](const std::string& file, const std::string& before, const std::string& after) {
		std::string log, missing;
		zuz_test::within(10, [&] {
			log = read_file(file);
			missing.clear();
			for (long long size : kSizes) {
				const std::string line = before + std::to_string(size) + after;
				if (log.find(line) == std::string::npos) missing += line;
			}
			return missing.empty();
		});
		EXPECT_EQ(missing, "") << "not in\n" << log;
	};
	fetch_all();
	logged(d + "access.log", "GET /f", " HTTP/1.1|Installer-VEV/a-25\n");

	// Error replies: the report, and the page as nginx gives it to curl.
	const int rep[5] = {1, 1, 0, 3, 0};
	for (auto c : {std::make_pair("/missing", "Not Found (#404)"), std::make_pair("/dir", "Moved Permanently (#301)")}) {
		EXPECT_EQ(poll_slot(0, "127.0.0.1", c.first, d + "page", [] { return false; }), 2) << c.first;
		EXPECT_EQ(logged_since(&mark), report(d + "page", "127.0.0.1", c.first, rep, c.second));
		std::string page;
		zuz_test::run(std::string("curl -s http://127.0.0.1") + c.first, &page);
		EXPECT_TRUE(!page.empty() && read_file(d + "page") == page) << c.first;
	}

	http.proxy_host = "127.0.0.1";
	http.proxy_port = 8888;
	fetch_all();
	logged(d + "tp.log", "GET http://127.0.0.1/f", " HTTP/1.1\n");
	EXPECT_EQ(logged_since(&mark), "");
}

enum Ending { kClose, kReset, kHold };

// On 127.0.0.2:80: reads one request and sends one reply; the test then ends
// the connection its own way.
class ScriptServer {
public:
	explicit ScriptServer(const std::string& reply) : lsock(zuz_test::listen_on_test_host(1))
	{
		EXPECT_GE(lsock, 0);
		worker = std::thread([this, reply] {
			char buf[4096];
			if (!ready(lsock, POLLIN)) return;
			conn = accept(lsock, nullptr, nullptr);
			for (ssize_t n; request.find("\r\n\r\n") == std::string::npos && ready(conn, POLLIN);)
				if ((n = recv(conn, buf, sizeof(buf), 0)) > 0) request.append(buf, n); else return;
			// A short reply goes in one send, so it arrives in one piece.
			for (size_t at = 0; at < reply.size() && ready(conn, POLLOUT);) {
				ssize_t n = send(conn, reply.data() + at, reply.size() - at, MSG_NOSIGNAL);
				if (n <= 0) return;
				at += n;
			}
		});
	}
	~ScriptServer()
	{
		end(kHold);
		if (conn >= 0) close(conn);
		close(lsock);
	}
	void end(Ending how)
	{
		if (worker.joinable()) worker.join();
		if (how == kHold || conn < 0) return;
		linger l = {1, 0};  // closing then sends a reset
		if (how == kReset) setsockopt(conn, SOL_SOCKET, SO_LINGER, &l, sizeof(l));
		close(conn);
		conn = -1;
	}
	std::string request;

private:
	static bool ready(int fd, short events)
	{
		pollfd p = {fd, events, 0};
		return poll(&p, 1, 10000) == 1;
	}
	int         lsock, conn = -1;
	std::thread worker;
};

TEST_F(Http, BrokenRepliesFailWithoutClaimingAFile)
{
	const std::string ok = "HTTP/1.1 200 OK\r\n";
	std::string flood = ok;
	while (flood.size() < 200 * 1024) flood += "X-Flood: " + std::string(100, 'a') + "\r\n";
	struct {
		const char* name;
		std::string reply;
		Ending      ending;
		int         answer;
		bool        times_out;  // answers 0 until 30 s after the last data, then 2 without a report
		float       percent;    // GetPercentDone while it waits
		int         rep[5];     // the report, when it does not time out
		const char* file;       // the local file afterwards; null: not created (or /dev/full)
	} cases[] = {
		{"empty body", ok + "Content-Length: 0\r\n\r\n", kHold, 1, false, 0, {}, ""},
		{"interim reply", "HTTP/1.1 100 Continue\r\nContent-Length: 9\r\n\r\n" + ok + "Content-Length: 5\r\n\r\nhello",
		 kHold, 1, false, 0, {}, "hello"},
		{"early close", ok + "Content-Length: 10\r\n\r\nabc", kClose, 2, false, 0, {1, 0, 0, 3, 0}, "abc"},
		{"no Content-Length", ok + "\r\nbody", kClose, 2, true, -1, {}, "body"},
		{"stall after the headers", ok + "Content-Length: 10\r\n\r\n", kHold, 2, true, 0, {}, ""},
		{"length past 4 GiB", ok + "Content-Length: 4294967301\r\n\r\nhello", kHold, 2, true, 500 / 4294967301.0f, {},
		 "hello"},
		{"reset", ok + "Content-Length: 10\r\n\r\nabc", kReset, 2, false, 0, {1, 0, 0, 3, 0}, "abc"},
		{"wrong Content-Length first", ok + "Content-Length: 3\r\nContent-Length: 10\r\n\r\nabcdefghij", kHold, 2, false,
		 0, {1, 0, 0, 3, 0}, "abcdefghij"},
		{"unreadable Content-Length", ok + "Content-Length: 99999999999999999999\r\n\r\nabc", kHold, 2, false, 0,
		 {1, 0, 1, 3, EPROTO}, ""},
		{"header flood", flood, kHold, 2, false, 0, {1, 0, 1, 3, EMSGSIZE}, nullptr},
		{"full disk", ok + "Content-Length: 5\r\n\r\nhello", kHold, 2, false, 0, {1, 1, 1, 3, ENOSPC}, nullptr},
	};
	// Blanks and control bytes are escaped: no path can add a header line.
	const std::string path = "/a b/c\r\nX: y\x7f.zip";
	const std::string request = "GET /a%20b/c%0D%0AX:%20y%7F.zip HTTP/1.1\r\nConnection: close\r\nHost: 127.0.0.2\r\n"
	                            "User-agent: Installer-VEV/a-25\r\n\r\n";
	for (auto& c : cases) {
		SCOPED_TRACE(c.name);
		std::string local = c.rep[4] == ENOSPC ? "/dev/full" : tmp / c.name;
		xtim.elapsed_time = 100;
		ScriptServer server(c.reply);
		// The server ends the connection once every byte it sent has been taken.
		// The clock moves on while nothing has come: the time-out counts from the data.
		int r = poll_slot(0, "127.0.0.2", path, local, [&] {
			down_class* d = http.slot[0];
			size_t taken = d->header_bytes + d->received + d->recv_buf.size();
			if (taken == 0) xtim.elapsed_time = 110;
			return taken >= c.reply.size();
		});
		if (r == 0) {
			server.end(c.ending);
			int polls = 0;
			r = poll_slot(0, "127.0.0.2", path, local, [&] {
				return c.ending == kClose ? http.slot[0]->sock->ReceivedRelease() : c.ending == kHold && ++polls > 100;
			});
		}
		if (c.times_out) {
			ASSERT_EQ(r, 0);
			EXPECT_FLOAT_EQ(http.slot[0]->GetPercentDone(), c.percent);
			float data_time = xtim.elapsed_time;
			xtim.elapsed_time = data_time + 30;
			EXPECT_EQ(http.net_check(0, "127.0.0.2", path, local), 0);
			xtim.elapsed_time = data_time + 30.5f;
			r = http.net_check(0, "127.0.0.2", path, local);
		}
		server.end(kHold);
		EXPECT_EQ(r, c.answer);
		EXPECT_EQ(http.slot[0], nullptr);
		EXPECT_EQ(server.request, request);
		bool quiet = c.answer == 1 || c.times_out;
		EXPECT_EQ(logged_since(&mark), quiet ? "" : report(local, "127.0.0.2", path, c.rep, "OK (#200)"));
		if (local == "/dev/full") continue;
		EXPECT_EQ(access(local.c_str(), F_OK) == 0 ? read_file(local) : "(none)", c.file ? c.file : "(none)");
	}
}

TEST_F(Http, UnreachableServersFailAtOnce)
{
	const int unknown[5] = {0, 0, 1, 0, 20011}, refused[5] = {1, 0, 0, 3, 0};
	EXPECT_EQ(http.net_check(1, "no-such-host.invalid", "/x", tmp / "x"), 2);
	EXPECT_EQ(logged_since(&mark), "Translated server no-such-host.invalid to IP addy: 0.0.0.0 and port = 80\n" +
	                                   report(tmp / "x", "no-such-host.invalid", "/x", unknown, " (#0)"));
	EXPECT_EQ(poll_slot(1, "127.0.0.3", "/x", tmp / "x", [] { return false; }), 2);  // nothing listens
	EXPECT_EQ(logged_since(&mark), report(tmp / "x", "127.0.0.3", "/x", refused, " (#-1)"));
	EXPECT_NE(access((tmp / "x").c_str(), F_OK), 0);
}

TEST_F(Http, PercentDoneOfAnEmptyBody)
{
	ScriptServer server("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
	down_class d("127.0.0.2", 80, "/e", false, {}, nullptr, 0, nullptr);
	EXPECT_EQ(d.GetPercentDone(), -1);
	for (double end = now_seconds() + 30; !d.headers_done && now_seconds() < end;) d.DoProcessing();
	EXPECT_EQ(d.GetPercentDone(), 100);
}

TEST(HttpProxy, ExcludedSuffixesGoDirect)
{
	http.proxy_host = "proxy";
	http.proxy_port = 3128;
	gProxyExclude = {"example.org", "a.example.net"};
	for (auto c : {std::make_pair("mirror.example.org", false), std::make_pair("example.org", false),
	               std::make_pair("mirror.Example.org", true), std::make_pair("example.net", true)}) {
		EXPECT_EQ(UseProxy(c.first, 80), c.second) << c.first;
		EXPECT_EQ(ProxyHost(c.first, 80), c.second ? "proxy" : c.first);
		EXPECT_EQ(ProxyPort(c.first, 80), c.second ? 3128 : 80);
	}
	gProxyExclude.clear();
	http.proxy_port = 0;
	EXPECT_FALSE(UseProxy("mirror.example.com", 80));
	http.proxy_host.clear();
}

TEST(HttpDeathTest, MisuseIsFatal)
{
	struct {
		int         slot;
		const char* server;
		const char* path;
		const char* message;
	} cases[] = {
		{6, "s", "/p", "line 232\\)\nToo many download objects requested!\n"},
		{0, "s/", "/p",
		 "line 247\\)\nnet_check error! You have a dirchar at the end of the server name!\nYou should not!\nOur "
		 "convention is that a server name is simply a server name\\.\\.\\. with no slash!\ns/\n"},
		{0, "s", "p",
		 "line 248\\)\nnet_check error! You do not have a dirchar at the beginning of the directory name!\nYou "
		 "should!\nOur convention is that a directory name does start with a slash because it must include the hard "
		 "drive,which is a dir char on unix!\np\n"},
	};
	for (auto& c : cases)
		EXPECT_EXIT(http.net_check(c.slot, c.server, c.path, "/tmp/never"), testing::ExitedWithCode(1),
		            std::string("FATAL ERROR \\(ZUzuvir/OOPS_cpp/http, ") + c.message);
}

}  // namespace
