// The download slot's reply parser on any bytes, delivered through a socket
// pair wrapped by the socket layer: no network is used. The first byte picks
// whether the body goes to a file, and the size of the pieces the reply comes
// in (0: one piece).
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

#include "OOPS_cpp/http.h"
#include "Sockets/PCSBSocket.h"
#include "fuzz_common.h"

// Polls until the slot has taken everything waiting on its socket, or stopped.
static void drain(down_class& d, int fd)
{
	for (int polls = 0; polls < 64 && d.sock->GetStatus() == PCSBSocket::status_Connected; ++polls) {
		int waiting = 0;
		if (ioctl(fd, FIONREAD, &waiting) != 0 || waiting == 0) break;
		d.DoProcessing();
	}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	if (size < 1) return 0;
	const bool to_file = data[0] & 1;
	const size_t piece = (data[0] >> 1) ? (data[0] >> 1) * 7u : size;
	const std::string body = fuzz_scratch() + "body";

	// "0.0.0.0" resolves to no address: the slot is built without a socket of
	// its own, and gets the pair's end instead.
	const std::map<std::string, std::string> headers;
	down_class d("0.0.0.0", 80, "/", false, headers, nullptr, 0, to_file ? body.c_str() : nullptr);
	int pair[2];
	if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) abort();
	d.error = 0;
	d.status_code = -1;
	d.sock = new PCSBSocket(pair[0]);

	for (size_t at = 1; at < size && d.sock->GetStatus() == PCSBSocket::status_Connected;) {
		const size_t n = std::min(piece, size - at);
		const ssize_t sent = send(pair[1], data + at, n, MSG_NOSIGNAL);
		if (sent <= 0) break;
		at += (size_t)sent;
		drain(d, pair[0]);
	}
	shutdown(pair[1], SHUT_WR);
	d.DoProcessing();
	d.CloseFile();
	volatile float done = d.GetPercentDone();
	(void)done;
	d.GetStat();
	d.IsComplete();
	close(pair[1]);
	if (to_file) unlink(body.c_str());
	return 0;
}
