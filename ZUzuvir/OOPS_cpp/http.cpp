#include "OOPS_cpp/http.h"

#include <errno.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "GenC/MACIBM_alert.h"
#include "GenC/hl_globals.h"
#include "GenH/hl_types.h"
#include "OOPS_cpp/xtim.h"
#include "Sockets/PCSBSocket.h"

static const char* const kFile = "ZUzuvir/OOPS_cpp/http";

http_class http;
int ot_inited = 0;
std::vector<std::string> gProxyExclude;

bool UseProxy(const std::string& host, uint16_t)
{
	if (http.proxy_port == 0 || http.proxy_host.empty()) return false;
	for (const std::string& suffix : gProxyExclude)
		if (suffix.size() <= host.size() && host.compare(host.size() - suffix.size(), suffix.size(), suffix) == 0)
			return false;
	return true;
}

std::string ProxyHost(const std::string& host, uint16_t port)
{
	return UseProxy(host, port) ? http.proxy_host : host;
}

uint16_t ProxyPort(const std::string& host, uint16_t port)
{
	return UseProxy(host, port) ? (uint16_t)http.proxy_port : port;
}

// Blanks, and the control bytes that could end the request line early; every
// other byte goes as it is.
static std::string escape_path(const std::string& path)
{
	std::string escaped;
	for (unsigned char c : path) {
		if (c == ' ' || c < 0x20 || c == 0x7F) {
			char hex[4];
			snprintf(hex, sizeof(hex), "%%%02X", c);
			escaped += hex;
		} else {
			escaped += (char)c;
		}
	}
	return escaped;
}

// A Content-Length value: decimal digits between optional blanks, within 64
// bits; -1 for anything else.
static long long parse_length(const std::string& text)
{
	size_t b = text.find_first_not_of(" \t");
	size_t e = text.find_last_not_of(" \t");
	if (b == std::string::npos) return -1;
	long long value = 0;
	for (size_t i = b; i <= e; ++i) {
		if (text[i] < '0' || text[i] > '9') return -1;
		int digit = text[i] - '0';
		if (value > (LLONG_MAX - digit) / 10) return -1;
		value = value * 10 + digit;
	}
	return value;
}

down_class::down_class(const std::string& server, uint16_t port, const std::string& request_path, bool post,
                       const std::map<std::string, std::string>& headers, const char* body, int body_len,
                       const char* file)
	: sock(nullptr), headers_done(0), status_code(0), out(nullptr), error(0), content_length(-1), received(0),
	  last_time(xtim.elapsed_time), header_bytes(0)
{
	if (file) path = app_path + file;

	uint32_t ip = PCSBSocket::LookupAddress(ProxyHost(server, port).c_str());
	if (ip == 0) {
		const unsigned char* b = (const unsigned char*)&ip;
		xer << "Translated server " << server << " to IP addy: " << (int)b[0] << "." << (int)b[1] << "."
		    << (int)b[2] << "." << (int)b[3] << " and port = " << port << "\n";
		error = 20011;
		return;
	}
	status_code = -1;
	sock = new PCSBSocket(0, false);
	sock->Connect(ip, ProxyPort(server, port));

	std::string request = post ? "POST " : "GET ";
	if (UseProxy(server, port)) {
		auto host = headers.find("Host");
		request += "http://" + (host != headers.end() ? host->second : std::string());
	}
	request += escape_path(request_path) + " HTTP/1.1\r\n";
	for (const auto& h : headers) request += h.first + ": " + h.second + "\r\n";
	if (body) {
		char line[40];
		snprintf(line, sizeof(line), "Content-Length: %d\r\n", body_len);
		request += line;
	}
	request += "\r\n";
	send_buf.assign(request.begin(), request.end());
	if (body) send_buf.insert(send_buf.end(), body, body + body_len);
}

down_class::~down_class()
{
	if (out) fclose(out);
	delete sock;
}

void down_class::fail(int err)
{
	error = err;
	if (sock) sock->Disconnect();
}

bool down_class::CloseFile()
{
	if (!out) return true;
	// A full disk may show only here, when the buffered tail is written.
	int result = fclose(out);
	out = nullptr;
	if (result != 0 && error == 0) error = errno;
	return result == 0;
}

// Consumes the complete header lines in recv_buf; true once the final block
// has ended.
bool down_class::parse_headers()
{
	size_t pos = 0;
	while (!headers_done) {
		const char* line = recv_buf.data() + pos;
		const char* end = recv_buf.data() + recv_buf.size();
		const char* cr = line;
		while (cr + 1 < end && !(cr[0] == '\r' && cr[1] == '\n')) ++cr;
		if (cr + 1 >= end) break;
		size_t len = cr - line;
		pos += len + 2;
		header_bytes += len + 2;
		if (header_bytes > http_max_header_bytes) break;

		if (len == 0) {
			if (status_code <= 199) {
				// An interim reply: the final one follows, in this data or later.
				resp_headers.clear();
				continue;
			}
			headers_done = 1;
			if (!path.empty()) {
				out = fopen(path.c_str(), "wb");
				if (!out) error = errno;
			}
			auto length = resp_headers.find("Content-Length");
			if (length != resp_headers.end()) {
				content_length = parse_length(length->second);
				if (content_length < 0) {
					recv_buf.clear();
					fail(EPROTO);
					return false;
				}
			}
		} else if (len > 13 && strncmp(line, "HTTP/", 5) == 0) {
			status_code = atoi(std::string(line + 9, 3).c_str());
			reason.assign(line + 13, len - 13);
		} else {
			std::string text(line, len);
			size_t colon = text.find(": ");
			if (colon != std::string::npos) resp_headers.emplace(text.substr(0, colon), text.substr(colon + 2));
		}
	}
	recv_buf.erase(recv_buf.begin(), recv_buf.begin() + pos);
	if (!headers_done && header_bytes + recv_buf.size() > http_max_header_bytes) {
		recv_buf.clear();
		fail(EMSGSIZE);
	}
	return headers_done;
}

void down_class::DoProcessing()
{
	// Shared by every transfer: they all run on the main thread.
	static char readChunk[65536];

	if (!sock) return;
	int status = sock->GetStatus();
	if (status == PCSBSocket::status_Closed || status == PCSBSocket::status_Error) {
		CloseFile();
		return;
	}
	if (status != PCSBSocket::status_Connected) return;

	if (!send_buf.empty()) {
		long sent = sock->http_WriteData(send_buf.data(), (long)send_buf.size());
		if (sent > 0) send_buf.erase(send_buf.begin(), send_buf.begin() + sent);
	}
	long got = sock->ReadData(readChunk, sizeof(readChunk));
	if (got <= 0) {
		// The peer has closed short of the announced length: the body can no
		// longer arrive whole. Without a length its end is only guessed, by the
		// owner's time-out.
		if (got == 0 && sock->ReceivedRelease() && content_length != -1) sock->Disconnect();
		return;
	}
	// Body bytes go from the chunk straight to the file when nothing waits before them.
	bool direct = headers_done && out && recv_buf.empty();
	if (!direct) {
		recv_buf.insert(recv_buf.end(), readChunk, readChunk + got);
		if (!headers_done && !parse_headers()) return;
	}
	const char* body = direct ? readChunk : recv_buf.data();
	size_t      count = direct ? (size_t)got : recv_buf.size();

	last_time = xtim.elapsed_time;
	// Stop reading as soon as the announced length is in hand.
	if (content_length != -1 && received + (long long)count >= content_length) sock->Disconnect();
	if (out && count) {
		received += (long long)count;
		if (fwrite(body, 1, count, out) < count) error = errno;
		recv_buf.clear();
	}
}

int down_class::GetStat()
{
	if (!sock) return 0;
	switch (sock->GetStatus()) {
	case PCSBSocket::status_Connecting: return 1;
	case PCSBSocket::status_Error: return 2;
	case PCSBSocket::status_Closed: return 3;
	}
	if (!send_buf.empty()) return 4;
	return headers_done ? 5 : 6;
}

bool down_class::IsErr()
{
	return error != 0 || !sock || sock->GetStatus() == PCSBSocket::status_Error;
}

int down_class::GetOSErr()
{
	if (error) return error;
	if (sock) return sock->GetOSError();
	return 20009;
}

float down_class::GetPercentDone()
{
	if (content_length == -1) return -1;
	if (content_length == 0) return 100;  // nothing to wait for
	return (float)((double)received * 100.0 / (double)content_length);
}

int http_class::net_check(int slot_num, std::string server, std::string file_path, const std::string& local_file)
{
	static int inited_any = 0;
	static int soc_inited = 0;

	if (slot_num < 0 || slot_num > 5)
		__MACIBM_alert(0, "Too many download objects requested!", "", "", "", t_exit, kFile, 232);
	if (!inited_any) {
		for (down_class*& s : slot) s = nullptr;
		PCSBSocket::StartupNetworking(!ot_inited);
		ot_inited = soc_inited = inited_any = 1;
	}

	down_class*& d = slot[slot_num];
	if (!d) {
		if (!server.empty() && server.back() == '/')
			__MACIBM_alert(0, "net_check error! You have a dirchar at the end of the server name!", "You should not!",
			               "Our convention is that a server name is simply a server name... with no slash!", server,
			               t_exit, kFile, 247);
		if (file_path.empty() || file_path[0] != '/')
			__MACIBM_alert(0, "net_check error! You do not have a dirchar at the beginning of the directory name!",
			               "You should!",
			               "Our convention is that a directory name does start with a slash because it must include "
			               "the hard drive,which is a dir char on unix!",
			               file_path, t_exit, kFile, 248);
		std::map<std::string, std::string> headers;
		headers["Host"] = server;
		headers["User-agent"] = std::string("Installer-") + "VEV/" + build_name[0].substr(build_name[0].size() - 4);
		headers["Connection"] = "close";
		d = new down_class(server, 80, file_path, false, headers, nullptr, 0, local_file.c_str());
	}

	d->DoProcessing();

	bool closed = d->sock && d->sock->GetStatus() == PCSBSocket::status_Closed;
	if (!closed && !d->IsComplete() && !d->IsErr()) {
		// Silent: a reply without a length can only end this way.
		if (xtim.elapsed_time > d->last_time + 30.0) {
			delete d;
			d = nullptr;
			return 2;
		}
		return 0;
	}

	// The file is closed and checked before the transfer may count as done.
	bool file_ok = d->CloseFile();
	if (file_ok && d->status_code >= 200 && d->status_code <= 299 && d->IsComplete() && !d->IsErr()) {
		delete d;
		d = nullptr;
		return 1;
	}
	xer << "HTTP Error for " << local_file << "\n"
	    << "   server     =" << server << "\n"
	    << "   file       =" << file_path << "\n"
	    << "   IsDone     =" << (d->IsDone() ? 1 : 0) << "\n"
	    << "   IsComplete =" << (d->IsComplete() ? 1 : 0) << "\n"
	    << "   IsErr      =" << (d->IsErr() ? 1 : 0) << "\n"
	    << "   GetStat    =" << d->GetStat() << "\n"
	    << "   GetOSErr   =" << d->GetOSErr() << "\n"
	    << "   response   =" << d->reason << " (#" << d->status_code << ")\n"
	    << "\n";
	delete d;
	d = nullptr;
	return 2;
}
