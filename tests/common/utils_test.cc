#include "common/utils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "page_fixture.h"

namespace {

TEST(Utils, VersionText) { EXPECT_EQ(GetVersion(), "NaCl-21.0802.2"); }

TEST(Utils, HtonsStoresHighByteFirst) {
  EXPECT_EQ(Htons(47475), 0x73B9);  // little-endian host
  EXPECT_EQ(Htons(0), 0);
  const unsigned short network = Htons(0x1234);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&network);
  EXPECT_EQ(bytes[0], 0x12);
  EXPECT_EQ(bytes[1], 0x34);
}

TEST(Utils, ParseHostSplitsAtTheLastColon) {
  struct Case {
    std::string text;
    std::string host;
    int port;
  };
  const std::vector<Case> cases = {
      {"255.255.255.255:47475", "255.255.255.255", 47475},
      {"255.255.255.255", "255.255.255.255", 80},
      {"a:b:55555", "a:b", 55555},
      {":47475", "", 47475},
      {"host:", "host", 0},
      {"host:abc", "host", 0},
      {"host: 12x", "host", 12},
      {"host:-5", "host", -5},
      {"", "", 80},
  };
  for (const auto& c : cases) {
    int port = -999;
    std::string host = "unset";
    ParseHost(c.text, 80, port, host);
    EXPECT_EQ(host, c.host) << c.text;
    EXPECT_EQ(port, c.port) << c.text;
  }
}

TEST(Utils, BroadcastAndLastNumberOfADeviceAddress) {
  struct Case {
    std::string address;
    std::string broadcast;
    unsigned short last;
  };
  const std::vector<Case> cases = {
      {"192.168.0.12", "192.168.0.255", 12},
      {"192.168.10.37", "192.168.10.255", 37},
      {"192.168.0", "192.168.0.255", 0},        // missing numbers read as 0
      {"10", "10.0.0.255", 0},
      {"", "0.0.0.255", 0},
      {"abc", "0.0.0.255", 0},
      {"300.1.2.3", "300.1.2.255", 3},          // above 255 passes through
      {"1.2.3.65536", "1.2.3.255", 0},          // above 65535: modulo 65536
      {"1.2.3.65573", "1.2.3.255", 37},
      {"1.2.3.99999999999999999999", "1.2.3.255", 65535},  // (10^20 - 1) mod 65536
      {"65535.65535.65535.1", "65535.65535.655", 1},  // cut to 15 characters
      {" 1. 2. 3. 4", "1.2.3.255", 4},
      {"1.2.3.-1", "1.2.3.255", 65535},
      {"127.0.0.23", "127.0.0.255", 23},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(getBroadCastIPUsingDeviceIP(c.address), c.broadcast) << c.address;
    EXPECT_EQ(getLastThreeDigitsOfDeviceIP(c.address), c.last) << c.address;
  }
}

using AtollWithCheckTest = LoggedPageTest;

TEST_F(AtollWithCheckTest, ReadsDecimalAndLogsOverflowAtTheLimits) {
  struct Case {
    std::string text;
    long long value;
    bool logged;
  };
  const std::vector<Case> cases = {
      {"", 0, false},
      {"letters", 0, false},
      {"15000", 15000, false},
      {"  -42abc", -42, false},
      {"99999999999999999999", 9223372036854775807LL, true},
      {"-99999999999999999999", -9223372036854775807LL - 1, true},
      {"9223372036854775807", 9223372036854775807LL, true},  // the limit itself counts
  };
  for (const auto& c : cases) {
    clear();
    EXPECT_EQ(atollWithCheck(c.text), c.value) << c.text;
    if (c.logged) {
      EXPECT_EQ(lines(), std::vector<std::string>{"[ERR]: Getting value occurs overflow: " + c.text});
    } else {
      EXPECT_TRUE(lines().empty()) << c.text;
    }
  }
}

}  // namespace
