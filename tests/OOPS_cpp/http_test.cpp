#include <arpa/inet.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <random>
#include <thread>

#include "GenC/hl_globals.h"
#include "OOPS_cpp/http.h"
#include "OOPS_cpp/xtim.h"
#include "Sockets/PCSBSocket.h"
#include "zuz_net.h"
#include "zuz_test.h"

using zuz_test::now_seconds;

namespace {

const char* const kUserAgent = "Installer-VEV/a-25";

std::string report(const std::string& local, const std::string& server, const std::string& path, int done,
                   int complete, int err, int stat, int oserr, const std::string& response)
{
	return "HTTP Error for " + local + "\n   server     =" + server + "\n   file       =" + path +
	       "\n   IsDone     =" + std::to_string(done) + "\n   IsComplete =" + std::to_string(complete) +
	       "\n   IsErr      =" + std::to_string(err) + "\n   GetStat    =" + std::to_string(stat) +
	       "\n   GetOSErr   =" + std::to_string(oserr) + "\n   response   =" + response + "\n\n";
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Every test starts with idle slots, no proxy and a clock standing at 100 s.
class Http : public testing::Test {
protected:
	void SetUp() override
	{
		ZUZ_NEED_PRIVATE_NETWORK();
		xtim.elapsed_time = 100;
	}
	void TearDown() override
	{
		for (down_class*& d : http.slot) {
			delete d;
			d = nullptr;
		}
		http.proxy_host.clear();
		http.proxy_port = 0;
		xtim.elapsed_time = 0;
	}
	zuz_test::TempDir   tmp;
	zuz_test::LogCapture log;
};

// ---- against nginx and tinyproxy ----

const long long kSizes[] = {0, 1, 65535, 65536, 65537, 20 << 20};

class HttpServers : public Http {
protected:
	void SetUp() override
	{
		Http::SetUp();
		if (IsSkipped()) return;
		if (zuz_test::run("command -v nginx >/dev/null && command -v tinyproxy >/dev/null") != 0)
			FAIL() << "nginx or tinyproxy is not installed (scripts/deps.sh installs them)";
		std::string www = tmp / "www/";
		zuz_test::run("mkdir -p " + www + "dir");
		std::mt19937 gen(7);
		for (long long size : kSizes) {
			std::string bytes(size, '\0');
			for (char& c : bytes) c = (char)gen();
			zuz_test::write_file(www + "f" + std::to_string(size), bytes);
		}
		std::string d = tmp.path();
		zuz_test::write_file(d + "tinyproxy.conf", "Port 8888\nListen 127.0.0.1\nTimeout 30\nPidFile \"" + d +
		                                               "tinyproxy.pid\"\nLogFile \"" + d +
		                                               "tinyproxy.log\"\nLogLevel Connect\nAllow 127.0.0.1\n");
		nginx.reset(zuz_test::start_nginx(d, www));
		ASSERT_TRUE(nginx) << zuz_test::read_file(d + "error.log");
		proxy.reset(new zuz_test::Daemon({"tinyproxy", "-d", "-c", d + "tinyproxy.conf"}));
		ASSERT_TRUE(zuz_test::wait_for_port("127.0.0.1", 8888, 10)) << zuz_test::read_file(d + "tinyproxy.log");
	}
	void TearDown() override
	{
		proxy.reset();
		nginx.reset();
		Http::TearDown();
	}

	// Fetches every file of kSizes through slots 2 to 5 at once, each slot taking
	// the next file as it frees.
	void fetch_all()
	{
		size_t next = 0, finished = 0;
		const size_t count = sizeof(kSizes) / sizeof(kSizes[0]);
		long long job[6];
		for (long long& j : job) j = -1;
		double end = now_seconds() + 120;
		while (finished < count && now_seconds() < end) {
			for (int k = 2; k <= 5; ++k) {
				if (job[k] < 0 && next < count) job[k] = kSizes[next++];
				if (job[k] < 0) continue;
				std::string name = "f" + std::to_string(job[k]);
				int r = http.net_check(k, "127.0.0.1", "/" + name, tmp / ("got-" + name));
				if (r == 0) continue;
				EXPECT_EQ(r, 1) << name;
				EXPECT_EQ(http.slot[k], nullptr);
				EXPECT_TRUE(zuz_test::read_file(tmp / ("got-" + name)) == zuz_test::read_file(tmp / ("www/" + name)))
				    << name << " differs from its source";
				job[k] = -1;
				++finished;
			}
		}
		ASSERT_EQ(finished, count) << "the downloads did not end within their bound";
		EXPECT_EQ(log.text(), "");
	}

	std::unique_ptr<zuz_test::Daemon> nginx, proxy;
};

TEST_F(HttpServers, FilesArriveByteForByteThroughFourSlots)
{
	fetch_all();
	std::string access = zuz_test::read_file(tmp / "access.log");
	for (long long size : kSizes) {
		std::string line = "GET /f" + std::to_string(size) + " HTTP/1.1|" + kUserAgent + "\n";
		EXPECT_NE(access.find(line), std::string::npos) << line << "not in\n" << access;
	}
}

TEST_F(HttpServers, ThroughTheProxyWithTheAbsoluteUrl)
{
	http.proxy_host = "127.0.0.1";
	http.proxy_port = 8888;
	fetch_all();
	std::string proxy_log = zuz_test::read_file(tmp / "tinyproxy.log");
	for (long long size : kSizes) {
		std::string line = "GET http://127.0.0.1/f" + std::to_string(size) + " HTTP/1.1\n";
		EXPECT_NE(proxy_log.find(line), std::string::npos) << line << "not in\n" << proxy_log;
	}
}

TEST_F(HttpServers, ErrorRepliesFailWithTheReport)
{
	struct {
		const char* path;
		const char* response;
	} cases[] = {{"/missing", "Not Found (#404)"}, {"/dir", "Moved Permanently (#301)"}};
	for (auto& c : cases) {
		SCOPED_TRACE(c.path);
		std::string local = tmp / "page";
		std::string before = log.text();
		int r = 0;
		double end = now_seconds() + 20;
		while ((r = http.net_check(0, "127.0.0.1", c.path, local)) == 0 && now_seconds() < end) {}
		EXPECT_EQ(r, 2);
		EXPECT_EQ(http.slot[0], nullptr);
		EXPECT_EQ(log.text().substr(before.size()), report(local, "127.0.0.1", c.path, 1, 1, 0, 3, 0, c.response));
		// The error page arrived as nginx sends it to curl.
		std::string page;
		zuz_test::run(std::string("curl -s http://127.0.0.1") + c.path, &page);
		EXPECT_FALSE(page.empty());
		EXPECT_EQ(zuz_test::read_file(local), page);
	}
}

// ---- against a scripted server for the broken replies ----

enum Ending { kClose, kReset, kHold };

// Listens on 127.0.0.2:80, reads one request and sends one reply; the test
// then ends the connection its own way.
class ScriptServer {
public:
	explicit ScriptServer(const std::string& reply) : reply(reply)
	{
		lsock = socket(AF_INET, SOCK_STREAM, 0);
		int one = 1;
		setsockopt(lsock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
		sockaddr_in addr = {};
		addr.sin_family = AF_INET;
		addr.sin_port = htons(80);
		addr.sin_addr.s_addr = inet_addr("127.0.0.2");
		if (bind(lsock, (sockaddr*)&addr, sizeof(addr)) != 0 || listen(lsock, 1) != 0) ADD_FAILURE() << "bind";
		worker = std::thread([this] { serve(); });
	}
	~ScriptServer()
	{
		if (worker.joinable()) worker.join();
		if (conn >= 0) close(conn);
		close(lsock);
	}
	void end(Ending how)
	{
		if (worker.joinable()) worker.join();
		if (how == kHold || conn < 0) return;
		if (how == kReset) {
			linger l = {1, 0};
			setsockopt(conn, SOL_SOCKET, SO_LINGER, &l, sizeof(l));
		}
		close(conn);
		conn = -1;
	}
	std::string request;

private:
	bool wait(int fd, short events)
	{
		pollfd p = {fd, events, 0};
		return poll(&p, 1, 10000) == 1;
	}
	void serve()
	{
		if (!wait(lsock, POLLIN)) return;
		conn = accept(lsock, nullptr, nullptr);
		char buf[4096];
		while (request.find("\r\n\r\n") == std::string::npos && wait(conn, POLLIN)) {
			ssize_t n = recv(conn, buf, sizeof(buf), 0);
			if (n <= 0) return;
			request.append(buf, n);
		}
		// One send for a short reply, so it arrives in one piece.
		size_t at = 0;
		while (at < reply.size() && wait(conn, POLLOUT)) {
			ssize_t n = send(conn, reply.data() + at, reply.size() - at, MSG_NOSIGNAL);
			if (n <= 0) return;
			at += n;
		}
	}
	std::string reply;
	int         lsock = -1, conn = -1;
	std::thread worker;
};

std::string flood()
{
	std::string r = "HTTP/1.1 200 OK\r\n";
	while (r.size() < 200 * 1024) r += "X-Flood: " + std::string(100, 'a') + "\r\n";
	return r;
}

TEST_F(Http, BrokenRepliesFailWithoutClaimingAFile)
{
	const std::string ok = "HTTP/1.1 200 OK\r\n";
	struct Case {
		const char* name;
		std::string reply;
		Ending      ending;
		bool        full_disk;  // the local file is /dev/full
		int         answer;
		bool        times_out;  // answers 0 until 30 s after the last data, then 2 silently
		float       percent;    // GetPercentDone while it waits
		int         rep[5];     // report: IsDone, IsComplete, IsErr, GetStat, GetOSErr (times_out: none)
		const char* file;       // the local file afterwards; null: not created
	} cases[] = {
		{"empty body", ok + "Content-Length: 0\r\n\r\n", kHold, false, 1, false, 0, {}, ""},
		{"interim reply", "HTTP/1.1 100 Continue\r\n\r\n" + ok + "Content-Length: 5\r\n\r\nhello", kHold, false, 1,
		 false, 0, {}, "hello"},
		{"early close", ok + "Content-Length: 10\r\n\r\nabc", kClose, false, 2, true, 30, {}, "abc"},
		{"no Content-Length", ok + "\r\nbody", kClose, false, 2, true, -1, {}, "body"},
		{"stall after the headers", ok + "Content-Length: 10\r\n\r\n", kHold, false, 2, true, 0, {}, ""},
		{"length past 4 GiB", ok + "Content-Length: 4294967301\r\n\r\nhello", kHold, false, 2, true,
		 (float)(500.0 / 4294967301.0), {}, "hello"},
		{"reset", ok + "Content-Length: 10\r\n\r\nabc", kReset, false, 2, false, 0, {1, 0, 0, 3, 0}, "abc"},
		{"body past Content-Length", ok + "Content-Length: 3\r\n\r\nabcdefghij", kHold, false, 2, false, 0,
		 {1, 0, 0, 3, 0}, "abcdefghij"},
		{"unreadable Content-Length", ok + "Content-Length: 99999999999999999999\r\n\r\nabc", kHold, false, 2,
		 false, 0, {1, 0, 1, 3, EPROTO}, ""},
		{"header flood", flood(), kHold, false, 2, false, 0, {1, 0, 1, 3, EMSGSIZE}, nullptr},
		{"full disk", ok + "Content-Length: 5\r\n\r\nhello", kHold, true, 2, false, 0, {1, 1, 1, 3, ENOSPC}, nullptr},
	};
	// Blanks and control bytes are escaped; nothing can add a header line.
	const std::string path = "/a b/c\r\nX: y\x7f.zip";
	const std::string request = "GET /a%20b/c%0D%0AX:%20y%7F.zip HTTP/1.1\r\nConnection: close\r\nHost: 127.0.0.2\r\n"
	                            "User-agent: Installer-VEV/a-25\r\n\r\n";
	for (const Case& c : cases) {
		SCOPED_TRACE(c.name);
		std::string local = c.full_disk ? "/dev/full" : tmp / c.name;
		std::string before = log.text();
		xtim.elapsed_time = 100;
		ScriptServer server(c.reply);

		// Every byte the server sent is taken before it ends the connection.
		auto taken = [&] {
			down_class* d = http.slot[0];
			return d && d->header_bytes + d->received + d->recv_buf.size() >= c.reply.size();
		};
		int r = 0;
		double end = now_seconds() + 20;
		while ((r = http.net_check(0, "127.0.0.2", path, local)) == 0 && !taken() && now_seconds() < end) {}
		if (r == 0) {
			server.end(c.ending);
			for (int i = 0; i < 100000 && r == 0; ++i) {
				r = http.net_check(0, "127.0.0.2", path, local);
				if (c.ending == kClose && http.slot[0]->sock->ReceivedRelease()) break;
				if (c.ending == kHold && i >= 100) break;
			}
		}
		if (c.times_out) {
			ASSERT_EQ(r, 0);
			EXPECT_FLOAT_EQ(http.slot[0]->GetPercentDone(), c.percent);
			xtim.elapsed_time = 130;
			EXPECT_EQ(http.net_check(0, "127.0.0.2", path, local), 0);
			xtim.elapsed_time = 130.5f;
			r = http.net_check(0, "127.0.0.2", path, local);
		}
		server.end(kHold);
		EXPECT_EQ(r, c.answer);
		EXPECT_EQ(http.slot[0], nullptr);
		EXPECT_EQ(server.request, request);
		std::string logged = log.text().substr(before.size());
		if (c.answer == 1 || c.times_out)
			EXPECT_EQ(logged, "");
		else
			EXPECT_EQ(logged, report(local, "127.0.0.2", path, c.rep[0], c.rep[1], c.rep[2], c.rep[3], c.rep[4],
			                         "OK (#200)"));
		if (c.full_disk) continue;
		EXPECT_EQ(exists(local), c.file != nullptr);
		if (c.file) {
			EXPECT_EQ(zuz_test::read_file(local), c.file);
		}
	}
}

TEST_F(Http, UnreachableServers)
{
	struct {
		const char* server;
		const char* lookup_line;
		int         rep[5];
		const char* response;
	} cases[] = {
		{"no-such-host.invalid", "Translated server no-such-host.invalid to IP addy: 0.0.0.0 and port = 80\n",
		 {0, 0, 1, 0, 20011}, " (#0)"},
		{"127.0.0.3", "", {1, 0, 0, 3, 0}, " (#-1)"},  // nothing listens
	};
	for (auto& c : cases) {
		SCOPED_TRACE(c.server);
		std::string local = tmp / "x";
		std::string before = log.text();
		int r = 0;
		double end = now_seconds() + 20;
		while ((r = http.net_check(1, c.server, "/x", local)) == 0 && now_seconds() < end) {}
		EXPECT_EQ(r, 2);
		EXPECT_EQ(log.text().substr(before.size()),
		          c.lookup_line + report(local, c.server, "/x", c.rep[0], c.rep[1], c.rep[2], c.rep[3], c.rep[4],
		                                 c.response));
		EXPECT_FALSE(exists(local));
	}
}

TEST_F(Http, PercentDoneOfAnEmptyBody)
{
	ScriptServer server("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
	down_class d("127.0.0.2", 80, "/e", false, {}, nullptr, 0, nullptr);
	EXPECT_EQ(d.GetPercentDone(), -1);
	double end = now_seconds() + 20;
	while (!d.headers_done && now_seconds() < end) d.DoProcessing();
	ASSERT_TRUE(d.headers_done);
	EXPECT_EQ(d.GetPercentDone(), 100);
	EXPECT_TRUE(d.IsComplete());
	server.end(kClose);
}

TEST(HttpProxy, ChoiceByPortHostAndExcludedSuffixes)
{
	struct {
		const char* proxy_host;
		int         proxy_port;
		const char* exclude;
		const char* host;
		bool        use;
	} cases[] = {
		{"proxy", 0, "", "mirror.example.org", false},
		{"", 3128, "", "mirror.example.org", false},
		{"proxy", 3128, "", "mirror.example.org", true},
		{"proxy", 3128, "example.org", "mirror.example.org", false},
		{"proxy", 3128, "example.org", "example.org", false},
		{"proxy", 3128, "Example.org", "mirror.example.org", true},   // case counts
		{"proxy", 3128, "a.example.org", "example.org", true},        // longer than the host
	};
	for (auto& c : cases) {
		SCOPED_TRACE(std::string(c.host) + " excluding " + c.exclude);
		http.proxy_host = c.proxy_host;
		http.proxy_port = c.proxy_port;
		gProxyExclude.clear();
		if (*c.exclude) gProxyExclude.push_back(c.exclude);
		EXPECT_EQ(UseProxy(c.host, 80), c.use);
		EXPECT_EQ(ProxyHost(c.host, 80), c.use ? c.proxy_host : c.host);
		EXPECT_EQ(ProxyPort(c.host, 80), c.use ? c.proxy_port : 80);
	}
	gProxyExclude.clear();
	http.proxy_host.clear();
	http.proxy_port = 0;
}

using HttpDeathTest = testing::Test;

TEST(HttpDeathTest, MisuseIsFatal)
{
	struct {
		int         slot;
		const char* server;
		const char* path;
		const char* message;
	} cases[] = {
		{6, "s", "/p", "line 232\\)\nToo many download objects requested!\n"},
		{-1, "s", "/p", "line 232\\)\nToo many download objects requested!\n"},
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
