// One update's road, end to end: the server list, the file list, the scan of a
// local installation, four download streams at once, extraction into place,
// deletion, modes and links, driven through the framework in the order the
// installer drives it, against real nginx and tinyproxy in a private network
// and a server of the test's own that breaks transfers half-way.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <thread>

#include "Files/io_archive.h"
#include "Files/io_errors.h"
#include "Files/io_utils.h"
#include "Files/md5.h"
#include "OOPS_cpp/http.h"
#include "OOPS_cpp/xmap.h"
#include "OOPS_cpp/xtim.h"
#include "zuz_net.h"
#include "zuz_test.h"

namespace fs = std::filesystem;
using zuz_test::md5_of;
using zuz_test::now_seconds;
using zuz_test::read_file;
using zuz_test::run;

namespace {

const char* const kList = "/Nimbara9/";  // where the server keeps the file list and archives

// The release. Kind: F file, X executable (archived without its x bits), L
// link to `bytes`, D gone from the release (the local copy is deleted).
struct item {
	char        kind;
	const char* path;
	std::string bytes;
	const char* local;  // what the local installation holds beforehand; null: nothing
};

std::string noise(size_t n, unsigned seed)
{
	std::mt19937 gen(seed);
	std::string s(n, '\0');
	for (char& c : s) c = (char)gen();
	return s;
}

const std::vector<item>& release()
{
	static const std::vector<item> items = {
		{'F', "Resources/a.txt", "alpha\n", "alpha\n"},
		{'F', "Resources/b.bin", noise(3 << 20, 1), "the old b\n"},
		{'F', "Aircraft/Heavy/c.dat", noise(2 << 20, 2), nullptr},
		{'X', "Nimbara 9 Updater", "#!/bin/sh\necho updated\n", nullptr},
		{'F', "Custom Scenery/Devori Dorivav/Earth nav data/d.dsf", noise(1 << 20, 3), nullptr},
		{'F', "Custom Scenery/Devori Dorivav/e.txt", "east\n", "west\n"},
		{'L', "Resources/a link", "a.txt", nullptr},
		{'D', "Resources/old.txt", "", "obsolete\n"},
	};
	return items;
}

std::string folder_of(const std::string& path)
{
	size_t slash = path.rfind('/');
	return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string archive_ext(const std::string& path)
{
	return path.find("Devori Dorivav") != std::string::npos ? ".7z" : ".zip";
}

std::string describe(bool link, int mode, const std::string& bytes)
{
	char m[8];
	snprintf(m, sizeof(m), "%o", mode);
	return link ? "link -> " + bytes : std::string("file ") + m + " " + md5_of(bytes);
}

// What a tree holds besides folders: each file's mode and digest, each link's target.
std::map<std::string, std::string> tree(const std::string& root)
{
	std::map<std::string, std::string> t;
	for (auto& e : fs::recursive_directory_iterator(root)) {
		struct stat st;
		lstat(e.path().c_str(), &st);
		const std::string rel = e.path().string().substr(root.size());
		if (S_ISLNK(st.st_mode)) t[rel] = describe(true, 0, fs::read_symlink(e.path()).string());
		if (S_ISREG(st.st_mode)) t[rel] = describe(false, st.st_mode & 07777, read_file(e.path()));
	}
	return t;
}

// What the installation must hold afterwards.
std::map<std::string, std::string> expected()
{
	std::map<std::string, std::string> t;
	for (const item& it : release())
		if (it.kind != 'D') t[it.path] = describe(it.kind == 'L', it.kind == 'X' ? 0755 : 0644, it.bytes);
	return t;
}

// A server of the test's own on 127.0.0.2:80: serves the files under `www`,
// but breaks the transfer of `bad` half-way through its body in one of three ways.
enum Break { kReset, kShort, kStall };

class BreakingServer {
public:
	BreakingServer(const std::string& www, const std::string& bad, Break how)
		: www(www), bad(bad), how(how), lsock(zuz_test::listen_on_test_host(16))
	{
		EXPECT_GE(lsock, 0);
		acceptor = std::thread([this] {
			while (!stop)
				if (ready(lsock, POLLIN, 50)) {
					int conn = accept(lsock, nullptr, nullptr);
					if (conn >= 0) workers.emplace_back([this, conn] { serve(conn); });
				}
		});
	}
	~BreakingServer()
	{
		stop = true;
		acceptor.join();
		for (std::thread& t : workers) t.join();
		close(lsock);
	}
	// Body bytes of the bad transfer once all of its half is sent; -1 before.
	std::atomic<long long> sent{-1};

private:
	static bool ready(int fd, short events, int ms)
	{
		pollfd p = {fd, events, 0};
		return poll(&p, 1, ms) == 1;
	}
	void serve(int conn)
	{
		std::string request;
		char buf[4096];
		ssize_t n;
		while (request.find("\r\n\r\n") == std::string::npos && ready(conn, POLLIN, 10000) &&
		       (n = recv(conn, buf, sizeof(buf), 0)) > 0)
			request.append(buf, n);
		std::string path = request.substr(4, request.find(' ', 4) - 4);
		for (size_t at; (at = path.find("%20")) != std::string::npos;) path.replace(at, 3, " ");
		const bool is_bad = path == bad;
		std::string body = read_file(www + path.substr(1));
		const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
		if (is_bad) body.resize(body.size() / 2);
		const std::string reply = head + body;
		size_t at = 0;
		for (; at < reply.size() && ready(conn, POLLOUT, 10000); at += n)
			if ((n = send(conn, reply.data() + at, reply.size() - at, MSG_NOSIGNAL)) <= 0) break;
		if (is_bad) {
			if (at == reply.size()) sent = (long long)body.size();
			if (how == kReset) {
				linger l = {1, 0};
				setsockopt(conn, SOL_SOCKET, SO_LINGER, &l, sizeof(l));
			}
			// A stalled transfer stays open until the client gives up on it.
			while (how == kStall && !stop && !(ready(conn, POLLIN, 50) && recv(conn, buf, sizeof(buf), 0) <= 0)) {}
		}
		close(conn);
	}

	std::string              www, bad;
	Break                    how;
	int                      lsock;
	std::atomic<bool>        stop{false};
	std::thread              acceptor;
	std::vector<std::thread> workers;
};

class Road : public testing::Test {
protected:
	void SetUp() override
	{
		ZUZ_NEED_PRIVATE_NETWORK();
		if (run("command -v nginx && command -v tinyproxy && command -v zip && command -v 7z") != 0)
			FAIL() << "nginx, tinyproxy, zip or 7z is missing (scripts/deps.sh installs them)";
		xtim.elapsed_time = 100;
		publish();
		nginx.reset(zuz_test::start_nginx(tmp.path(), www));
		ASSERT_TRUE(nginx) << read_file(tmp / "error.log");
	}
	void TearDown() override
	{
		for (down_class*& d : http.slot) delete d, d = nullptr;
		http.proxy_host.clear();
		http.proxy_port = 0;
	}

	// The server side: the lists and one archive per file, made by Info-ZIP and 7-Zip.
	void publish()
	{
		const std::string src = tmp / "src/", pub = www + std::string(kList).substr(1);
		std::string list = "I\n900 version\nINSTALLER\n";
		for (const item& it : release()) {
			if (it.kind == 'D') {
				list += "D - " + std::string(it.path) + "\n";
				continue;
			}
			const std::string file = src + it.path, leaf = fs::path(it.path).filename();
			fs::create_directories(folder_of(file));
			fs::create_directories(pub + folder_of(it.path));
			if (it.kind == 'L')
				fs::create_symlink(it.bytes, file);
			else
				zuz_test::write_file(file, it.bytes);
			chmod(file.c_str(), 0644);
			const std::string out = pub + it.path + archive_ext(it.path);
			const std::string pack = archive_ext(it.path) == ".7z" ? "7z a -bd '" + out + "' '" + leaf + "'"
			                                                       : "zip -q -y '" + out + "' '" + leaf + "'";
			ASSERT_EQ(run("cd '" + folder_of(file) + "' && " + pack + " >/dev/null"), 0) << it.path;
			list += std::string(1, it.kind) + " " + md5_of(it.bytes) + " " + it.path + "\n";
		}
		zuz_test::write_file(tmp / "directory.txt", list);
		ASSERT_EQ(run("cd '" + tmp.path() + "' && zip -q '" + pub + "directory.txt.zip' directory.txt"), 0);
		unlink((tmp / "directory.txt").c_str());
		publish_server_list();
	}
	void publish_server_list()
	{
		zuz_test::write_file(www + "serverlist9.txt", "I\n820 version\nSERVERS\n" + server + "\n");
	}

	// The installation as it stands before the update.
	void make_local()
	{
		fs::remove_all(dest);
		fs::create_directories(dest);
		for (const item& it : release())
			if (it.local) {
				fs::create_directories(dest + folder_of(it.path));
				zuz_test::write_file(dest + it.path, it.local);
			}
	}

	// net_check on one slot until it answers, within a bound of its own.
	int fetch(int slot, const std::string& from, const std::string& path, const std::string& local)
	{
		int r = 0;
		for (double end = now_seconds() + 30; (r = http.net_check(slot, from, path, local)) == 0 && now_seconds() < end;) {}
		return r;
	}

	// One run of the road from the server list on. Returns how many archives
	// failed; `scan` receives each listed file's verdict.
	int update(std::map<std::string, std::string>* scan = nullptr, const std::function<void(size_t)>& each_poll = [](size_t) {})
	{
		const std::string work = tmp / "work/";
		fs::remove_all(work);
		fs::create_directories(work);

		// The server list.
		EXPECT_EQ(fetch(0, from, "/serverlist9.txt", work + "serverlist9.txt"), 1);
		xmap_class servers(work + "serverlist9.txt");
		const int v820[] = {820, 0};
		EXPECT_EQ(servers.check_file(io_type_text, v820, "SERVERS", nullptr), 820);
		std::string chosen;
		servers.TXT_str_scan_eoln(&chosen);
		EXPECT_EQ(chosen, server);

		// The file list.
		EXPECT_EQ(fetch(1, chosen, std::string(kList) + "directory.txt.zip", work + "directory.txt.zip"), 1);
		std::string first;
		EXPECT_EQ(zip_to_file(work + "directory.txt.zip", work, &first, 0), 0);
		EXPECT_EQ(first, "directory.txt");
		xmap_class list(work + "directory.txt");
		const int vlist[] = {840, 900, 0};
		EXPECT_EQ(list.check_file(io_type_text, vlist, "INSTALLER", nullptr), 900);

		// The scan: what is missing or differs is fetched, what is gone deleted.
		struct todo {
			char        kind;
			std::string path;
		};
		std::vector<todo> fetches, deletes;
		while (list.cursor && list.cursor < list.end) {
			std::string kind, digest, path, local;
			list.TXT_str_scan_space(&kind);
			list.TXT_str_scan_space(&digest);
			list.TXT_str_scan_eoln(&path);
			if (kind == "D") {
				deletes.push_back({'D', path});
				continue;
			}
			std::string verdict = "unchanged";
			std::string target;
			if (kind == "L" && is_sim_link(dest + path, &target))
				verdict = target == "a.txt" ? "unchanged" : "changed";
			else if (calc_file_md5(dest + path, local) == 20006)
				verdict = "missing";
			else if (local != digest)
				verdict = "changed";
			if (scan) (*scan)[path] = verdict;
			if (verdict != "unchanged") fetches.push_back({kind[0], path});
		}

		for (const todo& t : fetches)
			for (size_t at = 0; (at = t.path.find('/', at)) != std::string::npos; ++at) {
				int err = make_folder(dest + t.path.substr(0, at + 1));
				EXPECT_TRUE(err == 0 || err == EEXIST) << t.path << ": " << error_str(err);
			}

		// Four streams at once, each taking the next archive as it frees.
		int failed = 0;
		size_t next = 0, done = 0;
		const todo* job[6] = {};
		for (double end = now_seconds() + 60; done < fetches.size() && now_seconds() < end;) {
			each_poll(fetches.size() - next);
			for (int k = 2; k <= 5; ++k) {
				if (!job[k] && next < fetches.size()) job[k] = &fetches[next++];
				if (!job[k]) continue;
				const std::string ext = archive_ext(job[k]->path);
				const std::string archive = work + "stream" + std::to_string(k) + ext;
				int r = http.net_check(k, chosen, kList + job[k]->path + ext, archive);
				if (r == 0) {
					float p = http.slot[k]->GetPercentDone();
					EXPECT_TRUE(p == -1 || (p >= 0 && p <= 100)) << p;
					if (p > 0 && p < 100) ++percent_reads;
					continue;
				}
				if (r == 1) {
					const std::string into = dest + folder_of(job[k]->path);
					int err = ext == ".7z" ? p7z_to_file(archive, into, nullptr, 0)
					                       : zip_to_file(archive, into, nullptr, 0);
					EXPECT_EQ(err, 0) << job[k]->path << ": Error: " << error_str(err);
					if (job[k]->kind == 'X') {
						EXPECT_EQ(make_file_executable((dest + job[k]->path).c_str()), 0);
					}
				} else {
					++failed;
				}
				if (r == 1 || file_exists(archive)) {
					EXPECT_EQ(delete_file(archive), 0);
				}
				job[k] = nullptr;
				++done;
			}
		}
		EXPECT_EQ(done, fetches.size()) << "the downloads did not end within their bound";

		for (const todo& t : deletes)
			if (file_exists(dest + t.path)) {
				EXPECT_EQ(delete_file(dest + t.path), 0);
			}
		return failed;
	}

	zuz_test::TempDir                 tmp;
	std::string                       www = tmp / "www/", dest = tmp / "Nimbara 9/";
	std::string                       server = "127.0.0.1", from = "127.0.0.1";
	std::unique_ptr<zuz_test::Daemon> nginx;
	int                               percent_reads = 0;
};

TEST_F(Road, UpdatesAnInstallationDirectAndThroughAProxy)
{
	zuz_test::write_file(tmp / "tp.conf", "Port 8888\nListen 127.0.0.1\nPidFile \"" + tmp / "tp.pid" +
	                                          "\"\nLogFile \"" + tmp / "tp.log" + "\"\nLogLevel Connect\n"
	                                          "Allow 127.0.0.1\n");
	zuz_test::Daemon proxy({"tinyproxy", "-d", "-c", tmp / "tp.conf"});
	ASSERT_TRUE(zuz_test::wait_for_port("127.0.0.1", 8888, 10)) << read_file(tmp / "tp.log");

	for (bool through_proxy : {false, true}) {
		SCOPED_TRACE(through_proxy ? "through tinyproxy" : "direct");
		if (through_proxy) {
			http.proxy_host = "127.0.0.1";
			http.proxy_port = 8888;
		}
		make_local();
		std::map<std::string, std::string> scan;
		EXPECT_EQ(update(&scan), 0);
		std::map<std::string, std::string> verdicts;
		for (const item& it : release())
			if (it.kind != 'D') verdicts[it.path] = !it.local ? "missing" : it.bytes == it.local ? "unchanged" : "changed";
		EXPECT_EQ(scan, verdicts);
		EXPECT_EQ(tree(dest), expected());
		// The streams were seen part-way.
		EXPECT_GT(percent_reads, 0);

		// A second run finds everything in place and fetches nothing.
		scan.clear();
		EXPECT_EQ(update(&scan), 0);
		for (auto& s : scan) EXPECT_EQ(s.second, "unchanged") << s.first;
	}
	const std::string via = read_file(tmp / "tp.log");
	EXPECT_NE(via.find("GET http://127.0.0.1/Nimbara9/Custom%20Scenery/Devori%20Dorivav/e.txt.7z HTTP/1.1"),
	          std::string::npos)
		<< via;
	EXPECT_NE(via.find("GET http://127.0.0.1/Nimbara9/Resources/b.bin.zip HTTP/1.1"), std::string::npos);
}

TEST_F(Road, ABrokenTransferLeavesTheOldFileAndTheNextRunCompletes)
{
	const Break breaks[] = {kReset, kShort, kStall};
	for (Break how : breaks) {
		SCOPED_TRACE(how == kReset ? "reset" : how == kShort ? "short body" : "stall");
		make_local();
		zuz_test::LogCapture log;
		{
			from = server = "127.0.0.2";
			publish_server_list();
			BreakingServer broken(www, std::string(kList) + "Resources/b.bin.zip", how);
			// A reset or a short body ends through what the client sees of the
			// connection, whenever the server ends it. A stall ends through the
			// clock alone: once the client holds every byte sent and the stalled
			// transfer is the only one left, 31 seconds pass at every poll. It is
			// the first fetched, so stream 0 (slot 2) has it.
			auto clock = [&](size_t waiting) {
				int running = 0;
				for (int k = 2; k <= 5; ++k) running += http.slot[k] != nullptr;
				down_class* d = http.slot[2];
				if (how == kStall && waiting == 0 && running == 1 && d && d->received == broken.sent)
					xtim.elapsed_time += 31;
			};
			EXPECT_EQ(update(nullptr, clock), 1);
		}
		// The old file stands, and nothing else was left behind.
		EXPECT_EQ(read_file(dest + "Resources/b.bin"), "the old b\n");
		const auto want = expected();
		for (auto& e : tree(dest)) EXPECT_EQ(want.count(e.first), 1u) << e.first;
		EXPECT_EQ(log.text().find("HTTP Error for ") != std::string::npos, how != kStall) << log.text();

		from = server = "127.0.0.1";
		publish_server_list();
		EXPECT_EQ(update(), 0);
		EXPECT_EQ(tree(dest), expected());
	}
}

}  // namespace
