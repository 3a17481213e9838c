#include "Sockets/PCSBSocket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

PCSBSocket::PCSBSocket(uint16_t port, bool listen)
	: mSocket(-1), mStatus(status_Unconnected), mOSError(0), mReceivedRelease(0), mReleased(0), mListening(0)
{
	mSocket = socket(AF_INET, SOCK_STREAM, 0);
	if (mSocket == -1) {
		fprintf(stderr, "LINUX: NET: I could not even create the socket! Uh-oh!\n");
		mStatus = status_Error;
		mOSError = errno;
		return;
	}
	int one = 1;
	if (setsockopt(mSocket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one)) != 0)
		printf("-----------------------Could not set TCP_NODELAY on port %d-------------\n", port);

	sockaddr_in addr;
	memset(&addr, 0, sizeof(addr));
	addr.sin_family = AF_INET;
	addr.sin_port = htons(port);
	addr.sin_addr.s_addr = htonl(INADDR_ANY);
	if (bind(mSocket, (sockaddr*)&addr, sizeof(addr)) != 0) {
		fprintf(stderr, "LINUX: NET: I could not even bind the socket! Uh-oh!\n");
		mStatus = status_Error;
		mOSError = errno;
		return;
	}
	int nonblocking = 1;
	ioctl(mSocket, FIONBIO, &nonblocking);
	if (!listen) return;
	mListening = 1;
	if (::listen(mSocket, 128) != 0) {
		fprintf(stderr, "LINUX: NET: I could not start listening! Uh-oh!\n");
		mStatus = status_Error;
		mOSError = errno;
	}
}

PCSBSocket::PCSBSocket(int socket)
	: mSocket(socket), mStatus(status_Connected), mOSError(0), mReceivedRelease(0), mReleased(0), mListening(0)
{
	int nonblocking = 1;
	ioctl(mSocket, FIONBIO, &nonblocking);
}

PCSBSocket::~PCSBSocket()
{
	if (mSocket == -1) return;
	shutdown(mSocket, SHUT_RDWR);
	close(mSocket);
}

bool PCSBSocket::StartupNetworking(bool) { return true; }
void PCSBSocket::ShutdownNetworking(bool) {}

// The network failures that end a connection without being the program's fault.
static bool is_network_failure(int err)
{
	switch (err) {
	case ENETDOWN: case ENETUNREACH: case ENETRESET: case ECONNABORTED:
	case ECONNRESET: case ETIMEDOUT: case ECONNREFUSED: case EHOSTUNREACH:
		return true;
	}
	return false;
}

int PCSBSocket::GetStatus()
{
	if (mStatus != status_Unconnected && mStatus != status_Connecting) return mStatus;
	if (mStatus == status_Unconnected && !mListening) return mStatus;

	// poll, not select: a descriptor of 1024 or more would overrun an fd_set.
	pollfd p;
	p.fd = mSocket;
	p.events = mStatus == status_Unconnected ? POLLIN : POLLOUT | POLLPRI;
	p.revents = 0;
	int ready = poll(&p, 1, 0);
	if (ready == 0 || (ready < 0 && errno == EINTR)) return mStatus;
	if (ready < 0) {
		mOSError = errno;
		if (mStatus == status_Unconnected)
			fprintf(stderr, "LINUX: NET: Some sort of socket error! %d\n", ready);
		else
			fprintf(stderr, "LINUX: NET: Some sort of socket error while connecting! %d (errno=%d sock=%d)\n", ready,
			        mOSError, mSocket);
		mStatus = status_Error;
		return mStatus;
	}
	const short exceptional = POLLPRI | POLLERR | POLLHUP | POLLNVAL;
	if (mStatus == status_Unconnected) {
		mStatus = (p.revents & POLLIN) && !(p.revents & exceptional) ? status_Connecting : status_Closed;
		return mStatus;
	}
	// A refused connect shows as writable too: only SO_ERROR tells.
	int so_error = 0;
	socklen_t len = sizeof(so_error);
	bool writable = (p.revents & POLLOUT) && !(p.revents & exceptional);
	if (writable && getsockopt(mSocket, SOL_SOCKET, SO_ERROR, &so_error, &len) != 0) so_error = errno;
	mStatus = writable && so_error == 0 ? status_Connected : status_Closed;
	return mStatus;
}

// A failed receive or send: the status it leads to, and -1.
static long transfer_failure(PCSBSocket* s, const char* message)
{
	int err = errno;
	if (err == EAGAIN || err == EWOULDBLOCK) return 0;
	if (is_network_failure(err)) {
		s->mStatus = PCSBSocket::status_Closed;
		return -1;
	}
	fprintf(stderr, message, err);
	s->mStatus = PCSBSocket::status_Error;
	s->mOSError = err;
	return -1;
}

long PCSBSocket::ReadData(void* buf, long len)
{
	ssize_t n = recv(mSocket, buf, (size_t)len, 0);
	if (n > 0) return n;
	if (n < 0) return transfer_failure(this, "LINUX: NET: Some sort of error while recving! %d\n");
	mReceivedRelease = 1;
	if (!mReleased) return 0;
	mStatus = status_Closed;
	return -1;
}

long PCSBSocket::http_WriteData(const void* buf, long len)
{
	// MSG_NOSIGNAL: a peer that has gone makes the send fail with EPIPE instead
	// of ending the process.
	ssize_t n = send(mSocket, buf, (size_t)len, MSG_NOSIGNAL);
	if (n >= 0) return n;
	return transfer_failure(this, "LINUX: NET: Some sort of error while sending! %d\n");
}

void PCSBSocket::Connect(uint32_t ip, uint16_t port)
{
	mStatus = status_Connecting;
	sockaddr_in addr;
	memset(&addr, 0, sizeof(addr));
	addr.sin_family = AF_INET;
	addr.sin_port = htons(port);
	addr.sin_addr.s_addr = ip;
	if (connect(mSocket, (sockaddr*)&addr, sizeof(addr)) == 0) {
		mStatus = status_Connected;
		return;
	}
	int err = errno;
	if (err == EAGAIN || err == EINPROGRESS) return;
	fprintf(stderr, "LINUX: NET: Some sort of connect error! %d\n", err);
	mStatus = status_Error;
	mOSError = err;
}

int PCSBSocket::Disconnect()
{
	mStatus = status_Closed;
	return shutdown(mSocket, SHUT_RDWR);
}

void PCSBSocket::Release()
{
	if (shutdown(mSocket, SHUT_WR) != 0) {
		mStatus = status_Error;
		mOSError = errno;
	}
	mReleased = 1;
}

uint32_t PCSBSocket::LookupAddress(const char* host)
{
	// inet_addr's failure value is also the broadcast address, which goes to the lookup.
	in_addr_t ip = inet_addr(host);
	if (ip != INADDR_NONE) return ip;
	hostent* he = gethostbyname(host);
	if (!he || he->h_addrtype != AF_INET || !he->h_addr_list[0]) return 0;
	uint32_t found;
	memcpy(&found, he->h_addr_list[0], sizeof(found));
	return found;
}

void PCSBSocket::GetAddresses(ConnectionData* out)
{
	sockaddr_in addr;
	socklen_t len = sizeof(addr);
	memset(&addr, 0, sizeof(addr));
	getpeername(mSocket, (sockaddr*)&addr, &len);
	out->remote_ip = addr.sin_addr.s_addr;
	out->remote_port = ntohs(addr.sin_port);
	len = sizeof(addr);
	memset(&addr, 0, sizeof(addr));
	getsockname(mSocket, (sockaddr*)&addr, &len);
	out->local_ip = ntohl(addr.sin_addr.s_addr);
	out->local_port = ntohs(addr.sin_port);
}

PCSBSocket* PCSBSocket::Accept()
{
	int peer = accept(mSocket, nullptr, nullptr);
	mStatus = status_Unconnected;
	if (peer == -1) return nullptr;
	return new PCSBSocket(peer);
}

int printf_null(const char*, ...) { return 0; }
