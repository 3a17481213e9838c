// The framework's datagram socket: one bound local UDP port, single datagrams
// out to and in from IPv4 addresses.
#ifndef PCSBSOCKETUDP_H
#define PCSBSOCKETUDP_H

#include <netinet/in.h>

#include <cstdint>

const int udp_buffer_size_snd = 16384;
const int udp_buffer_size_rcv = 65536;

class PCSBSocketUDP {
public:
	PCSBSocketUDP();
	virtual ~PCSBSocketUDP();

	// Mode 2: non-blocking; any other mode blocks. 1 on success, 0 on failure.
	int  udp_init(uint16_t port, int mode);
	// Address and port in host byte order; returns what the send call returns.
	long udp_WriteData(const void* buf, long len, uint32_t ip, uint16_t port);
	// One datagram; the sender's address and port in host byte order (0 when
	// the receive fails). Returns the receive call's result.
	long ReadData(void* buf, long len, uint32_t* ip, uint16_t* port);
	int  Cleanup();
	void size_buffer();

	int         mWinSocket;  // -1: none
	sockaddr_in mLocal;
};

#endif
