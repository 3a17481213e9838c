#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "Sockets/PCSBSocket.h"
#include "zuz_net.h"
#include "zuz_test.h"

namespace {

// Polls until the socket leaves `from`, within a bound of its own.
int status_after(PCSBSocket& s, int from)
{
	int st;
	zuz_test::within(10, [&] { return (st = s.GetStatus()) != from; });
	return st;
}

// Moves the socket's descriptor past the 1024 an fd_set can hold.
bool move_descriptor_high(PCSBSocket& s)
{
	rlimit lim;
	getrlimit(RLIMIT_NOFILE, &lim);
	if (lim.rlim_cur < 1600 && lim.rlim_max >= 1600) {
		lim.rlim_cur = 1600;
		setrlimit(RLIMIT_NOFILE, &lim);
	}
	if (dup2(s.mSocket, 1500) != 1500) return false;
	close(s.mSocket);
	s.mSocket = 1500;
	return true;
}

}  // namespace

TEST(PCSBSocket, ConnectAcceptExchangeAndPeerClose)
{
	ZUZ_NEED_PRIVATE_NETWORK();
	PCSBSocket listener(0, true);
	ASSERT_EQ(listener.GetStatus(), 1);  // nobody waiting
	PCSBSocket::ConnectionData ld;
	listener.GetAddresses(&ld);
	ASSERT_NE(ld.local_port, 0);

	PCSBSocket client(0, false);
	ASSERT_TRUE(move_descriptor_high(client));
	client.Connect(PCSBSocket::LookupAddress("127.0.0.1"), ld.local_port);
	ASSERT_EQ(status_after(client, 2), 3);
	ASSERT_EQ(status_after(listener, 1), 2);
	std::unique_ptr<PCSBSocket> peer(listener.Accept());
	ASSERT_TRUE(peer);
	EXPECT_EQ(listener.mStatus, 1);
	EXPECT_EQ(peer->GetStatus(), 3);

	PCSBSocket::ConnectionData cd;
	client.GetAddresses(&cd);
	EXPECT_EQ(cd.local_ip, 0x7f000001u);  // host order
	EXPECT_EQ(cd.remote_ip, inet_addr("127.0.0.1"));  // network order
	EXPECT_EQ(cd.remote_port, ld.local_port);

	ASSERT_EQ(peer->http_WriteData("abc", 3), 3);
	peer.reset();  // closes after sending everything

	char buf[16];
	long got = 0;
	double end = zuz_test::now_seconds() + 10;
	while (got == 0 && zuz_test::now_seconds() < end) got = client.ReadData(buf, sizeof(buf));
	ASSERT_EQ(got, 3);
	EXPECT_EQ(std::string(buf, 3), "abc");
	// The peer's close alone leaves this side connected, reading nothing.
	end = zuz_test::now_seconds() + 10;
	while (!client.ReceivedRelease() && zuz_test::now_seconds() < end) EXPECT_EQ(client.ReadData(buf, sizeof(buf)), 0);
	EXPECT_TRUE(client.ReceivedRelease());
	EXPECT_EQ(client.GetStatus(), 3);
	client.Release();
	EXPECT_EQ(client.ReadData(buf, sizeof(buf)), -1);
	EXPECT_EQ(client.GetStatus(), 4);
}

TEST(PCSBSocket, RefusedConnectClosesWithoutAMessage)
{
	ZUZ_NEED_PRIVATE_NETWORK();
	PCSBSocket client(0, false);
	ASSERT_TRUE(move_descriptor_high(client));
	testing::internal::CaptureStderr();
	client.Connect(inet_addr("127.0.0.1"), 9);  // nothing listens in the namespace
	int st = status_after(client, 2);
	std::string err = testing::internal::GetCapturedStderr();
	EXPECT_EQ(st, 4);
	EXPECT_EQ(err, "");
	EXPECT_EQ(client.GetOSError(), 0);
}
