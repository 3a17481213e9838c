#include "Sockets/PCSBSocketUDP.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "GenC/MACIBM_alert.h"

// The alerts of this unit name its source as it was first written.
static const char* const kFileLin = "ZUzuvir/Sockets/PCSBSocketUDP.lin";
static const char* const kFile = "ZUzuvir/Sockets/PCSBSocketUDP";

PCSBSocketUDP::PCSBSocketUDP() : mWinSocket(-1)
{
	memset(&mLocal, 0, sizeof(mLocal));
}

PCSBSocketUDP::~PCSBSocketUDP()
{
	if (mWinSocket != -1) close(mWinSocket);
	mWinSocket = -1;
}

int PCSBSocketUDP::udp_init(uint16_t port, int mode)
{
	memset(&mLocal, 0, sizeof(mLocal));
	mLocal.sin_family = AF_INET;
	mLocal.sin_port = htons(port);
	mLocal.sin_addr.s_addr = htonl(INADDR_ANY);

	mWinSocket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
	if (mWinSocket == -1) return 0;
	if (bind(mWinSocket, (sockaddr*)&mLocal, sizeof(mLocal)) != 0) {
		Cleanup();
		return 0;
	}
	if (mode == 2) {
		int flags = fcntl(mWinSocket, F_GETFL, 0);
		if (flags == -1 || fcntl(mWinSocket, F_SETFL, flags | O_NONBLOCK) == -1) {
			__MACIBM_alert(0, "Could not set net to non-blocking!", "", "", "", t_alert, kFileLin, 62);
			Cleanup();
			return 0;
		}
	}
	size_buffer();
	return 1;
}

long PCSBSocketUDP::udp_WriteData(const void* buf, long len, uint32_t ip, uint16_t port)
{
	sockaddr_in to;
	memset(&to, 0, sizeof(to));
	to.sin_family = AF_INET;
	to.sin_port = htons(port);
	to.sin_addr.s_addr = htonl(ip);
	return sendto(mWinSocket, buf, (size_t)len, 0, (sockaddr*)&to, sizeof(to));
}

long PCSBSocketUDP::ReadData(void* buf, long len, uint32_t* ip, uint16_t* port)
{
	if (mWinSocket < 0) __MACIBM_alert(0, "Bad mWinSocket!", "", "", "", t_exit, kFileLin, 102);
	sockaddr_in from;
	memset(&from, 0, sizeof(from));
	socklen_t from_len = sizeof(from);
	long n = recvfrom(mWinSocket, buf, (size_t)len, 0, (sockaddr*)&from, &from_len);
	*ip = n < 0 ? 0 : ntohl(from.sin_addr.s_addr);
	*port = n < 0 ? 0 : ntohs(from.sin_port);
	return n;
}

int PCSBSocketUDP::Cleanup()
{
	if (mWinSocket == -1) return -1;
	int result = close(mWinSocket);
	mWinSocket = -1;
	return result;
}

void PCSBSocketUDP::size_buffer()
{
	int size = udp_buffer_size_snd;
	socklen_t len = sizeof(size);
	if (setsockopt(mWinSocket, SOL_SOCKET, SO_SNDBUF, &size, sizeof(size)) != 0)
		__MACIBM_alert(0, "Could not set socket size!", "", "", "", t_exit, kFile, 91);
	if (getsockopt(mWinSocket, SOL_SOCKET, SO_SNDBUF, &size, &len) != 0)
		__MACIBM_alert(0, "Could not set socket size!", "", "", "", t_exit, kFile, 92);
	size = udp_buffer_size_rcv;
	if (setsockopt(mWinSocket, SOL_SOCKET, SO_RCVBUF, &size, sizeof(size)) != 0)
		__MACIBM_alert(0, "Could not set socket size!", "", "", "", t_exit, kFile, 93);
	len = sizeof(size);
	if (getsockopt(mWinSocket, SOL_SOCKET, SO_RCVBUF, &size, &len) != 0)
		__MACIBM_alert(0, "Could not set socket size!", "", "", "", t_exit, kFile, 94);
}
