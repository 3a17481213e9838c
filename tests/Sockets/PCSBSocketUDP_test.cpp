#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "Sockets/PCSBSocketUDP.h"
#include "zuz_net.h"
#include "zuz_test.h"

namespace {

const uint32_t loopback = 0x7f000001;  // host order

// Sends `text` to `port` until a datagram comes back (the peer may still be
// starting), within a bound; the reply, or "".
std::string exchange(PCSBSocketUDP& s, const std::string& text, uint16_t port, uint32_t* ip, uint16_t* from)
{
	char buf[256];
	for (double end = zuz_test::now_seconds() + 10; zuz_test::now_seconds() < end;) {
		s.udp_WriteData(text.data(), (long)text.size(), loopback, port);
		for (int i = 0; i < 50; ++i, usleep(1000))
			if (long n = s.ReadData(buf, sizeof(buf), ip, from); n > 0) return std::string(buf, n);
	}
	return "";
}

}  // namespace

TEST(PCSBSocketUDP, RoundTripAndAFailedRead)
{
	ZUZ_NEED_PRIVATE_NETWORK();
	PCSBSocketUDP a, b;
	ASSERT_EQ(a.udp_init(40001, 1), 1);  // blocking
	ASSERT_EQ(b.udp_init(40002, 2), 1);
	char buf[64];
	uint32_t ip = 0xdeadbeef;
	uint16_t port = 0xbeef;
	EXPECT_EQ(b.ReadData(buf, sizeof(buf), &ip, &port), -1);  // nothing there: no sender either
	EXPECT_EQ(ip, 0u);
	EXPECT_EQ(port, 0);

	ASSERT_EQ(b.udp_WriteData("ping", 4, loopback, 40001), 4);
	ASSERT_EQ(a.ReadData(buf, sizeof(buf), &ip, &port), 4);
	EXPECT_EQ(std::string(buf, 4), "ping");
	EXPECT_EQ(ip, loopback);
	EXPECT_EQ(port, 40002);
	EXPECT_EQ(a.Cleanup(), 0);
	EXPECT_EQ(a.Cleanup(), -1);
}

TEST(PCSBSocketUDP, EchoThroughSocat)
{
	ZUZ_NEED_PRIVATE_NETWORK();
	if (zuz_test::run("command -v socat >/dev/null") != 0)
		FAIL() << "socat is not installed (scripts/deps.sh installs it)";
	// Once its one datagram is in, socat waits -t seconds for cat's answer (half
	// a second unless told): long enough for a cat that starts late.
	zuz_test::Daemon socat({"socat", "-t", "60", "UDP4-RECVFROM:40003,bind=127.0.0.1", "EXEC:cat"});
	PCSBSocketUDP s;
	ASSERT_EQ(s.udp_init(40004, 2), 1);
	uint32_t ip = 0;
	uint16_t port = 0;
	EXPECT_EQ(exchange(s, "hello socat", 40003, &ip, &port), "hello socat");
	EXPECT_EQ(ip, loopback);
	EXPECT_EQ(port, 40003);
}

TEST(PCSBSocketUDPDeathTest, ReadingWithoutASocketIsFatal)
{
	PCSBSocketUDP s;
	char buf[4];
	uint32_t ip;
	uint16_t port;
	EXPECT_EXIT(s.ReadData(buf, sizeof(buf), &ip, &port), testing::ExitedWithCode(1),
	            "FATAL ERROR \\(ZUzuvir/Sockets/PCSBSocketUDP.lin, line 102\\)\nBad mWinSocket!\n");
}
