// One IPv4 TCP socket that never blocks: connecting, sending and receiving are
// advanced by polling from the main loop. Main thread only.
#ifndef PCSBSOCKET_H
#define PCSBSOCKET_H

#include <cstdint>

class PCSBSocket {
public:
	enum {
		status_Unconnected = 1,  // listening: idle
		status_Connecting = 2,   // listening: a peer waits to be accepted
		status_Connected = 3,
		status_Closed = 4,       // orderly, or a network-level failure
		status_Error = 5         // an unexpected system error; mOSError holds it
	};

	struct ConnectionData {
		uint32_t local_ip;     // host byte order
		uint16_t local_port;   // host byte order
		uint32_t remote_ip;    // network byte order, as the socket address holds it
		uint16_t remote_port;  // host byte order
	};

	// A fresh socket bound to `port` on every local address (0: any free port).
	PCSBSocket(uint16_t port, bool listen);
	// Wraps a connected descriptor, as returned by accept.
	explicit PCSBSocket(int socket);
	virtual ~PCSBSocket();

	static bool StartupNetworking(bool);  // nothing to prepare here
	static void ShutdownNetworking(bool);

	int  GetStatus();  // polls without waiting
	int  GetOSError() { return mOSError; }
	bool ReceivedRelease() { return mReceivedRelease; }

	// Counts moved; 0 when nothing can move now; -1 when the connection is over.
	long ReadData(void* buf, long len);
	long http_WriteData(const void* buf, long len);

	void Connect(uint32_t ip, uint16_t port);  // ip in network byte order
	int  Disconnect();
	void Release();

	static uint32_t LookupAddress(const char* host);  // network byte order; 0: unknown
	void GetAddresses(ConnectionData* out);
	PCSBSocket* Accept();

	int           mSocket;
	int           mStatus;
	int           mOSError;
	unsigned char mReceivedRelease;  // the peer has closed its sending side
	unsigned char mReleased;         // this side has shut down its sending side
	unsigned char mListening;
};

// printf that prints nothing.
int printf_null(const char* fmt, ...);

#endif
