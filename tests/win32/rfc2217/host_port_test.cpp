#include <gtest/gtest.h>

#include "tcp_connect.h"

namespace chipload::rfc2217 {
namespace {

TEST(HostPort, NamesAndAddressesWithPortsAreTaken) {
    const auto plain = parseHostPort("127.0.0.1:4000");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->host, "127.0.0.1");
    EXPECT_EQ(plain->port, "4000");

    const auto prefixed = parseHostPort("rfc2217://board.local:65535");
    ASSERT_TRUE(prefixed);
    EXPECT_EQ(prefixed->host, "board.local");
    EXPECT_EQ(prefixed->port, "65535");

    const auto v6 = parseHostPort("[::1]:2217");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->host, "::1");
    EXPECT_EQ(v6->port, "2217");
}

TEST(HostPort, MalformedAddressesAreRefused) {
    for (const char* bad : {"", "host", "host:", ":4000", "host:65536", "host:12x", "::1:4000",
                            "[::1]4000", "[::1]:", "host:123456"}) {
        EXPECT_FALSE(parseHostPort(bad)) << bad;
    }
}

}  // namespace
}  // namespace chipload::rfc2217
