// The address and number helpers on any text the page or a monitoring tool
// may supply, with the properties their callers rely on.

#include <cctype>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/logger.h"
#include "common/utils.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_page.h"

namespace {

// The C library's decimal conversion, written out: white space, a sign, digits
// up to the first other byte, saturating at the 64-bit limits; the text ends
// at its first zero byte, as a C string does.
long long ReferenceAtoll(const std::string& text) {
  const char* p = text.c_str();
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  unsigned long long magnitude = 0;
  const unsigned long long limit = negative ? 0x8000000000000000ull : 0x7fffffffffffffffull;
  bool saturated = false;
  for (; *p >= '0' && *p <= '9'; ++p) {
    const unsigned digit = static_cast<unsigned>(*p - '0');
    if (magnitude > (limit - digit) / 10) {
      saturated = true;
    } else {
      magnitude = magnitude * 10 + digit;
    }
  }
  if (saturated) return negative ? LLONG_MIN : LLONG_MAX;
  return negative ? static_cast<long long>(0 - magnitude) : static_cast<long long>(magnitude);
}

bool IsDecimal(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// "a.b.c.255" with decimal a, b, c: a broadcast address that was not cut.
bool IsWholeBroadcast(const std::string& text, std::string* network) {
  const size_t last = text.rfind('.');
  if (last == std::string::npos || text.substr(last) != ".255") return false;
  const std::string head = text.substr(0, last);
  const size_t first = head.find('.');
  const size_t second = first == std::string::npos ? first : head.find('.', first + 1);
  if (second == std::string::npos || head.find('.', second + 1) != std::string::npos) return false;
  if (!IsDecimal(head.substr(0, first)) || !IsDecimal(head.substr(first + 1, second - first - 1)) ||
      !IsDecimal(head.substr(second + 1))) {
    return false;
  }
  *network = head;
  return true;
}

void CheckParseHost(const std::string& text) {
  for (const int default_port : {0, 80, 47475}) {
    int port = -12345;
    std::string host = "unset";
    ParseHost(text, default_port, port, host);
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
      FUZZ_CHECK(host == text && port == default_port, "no colon: the whole text, default port");
    } else {
      const std::string rest = text.substr(colon + 1);
      FUZZ_CHECK(host + ":" + rest == text, "host, the last colon and the rest make the text");
      FUZZ_CHECK(rest.find(':') == std::string::npos, "the split is at the last colon");
      FUZZ_CHECK(port == static_cast<int>(ReferenceAtoll(rest)), "the port reads as atoi would");
    }
  }
}

void CheckDeviceAddress(const std::string& text) {
  const std::string broadcast = getBroadCastIPUsingDeviceIP(text);
  const unsigned short last = getLastThreeDigitsOfDeviceIP(text);
  FUZZ_CHECK(broadcast.size() <= 15, "a broadcast address fits its 16-byte buffer");
  for (char c : broadcast) {
    FUZZ_CHECK(std::isdigit(static_cast<unsigned char>(c)) || c == '.', "digits and dots only");
  }
  std::string network;
  if (!IsWholeBroadcast(broadcast, &network)) {
    // Only a cut text may lack its ".255": one cut to exactly 15 characters.
    FUZZ_CHECK(broadcast.size() == 15, "an uncut broadcast address ends in .255");
    return;
  }
  FUZZ_CHECK(getBroadCastIPUsingDeviceIP(broadcast) == broadcast, "a broadcast address is its own");
  FUZZ_CHECK(getLastThreeDigitsOfDeviceIP(broadcast) == 255, "and ends in 255");
  const std::string canonical = network + "." + std::to_string(last);
  FUZZ_CHECK(getBroadCastIPUsingDeviceIP(canonical) == broadcast, "the same three numbers");
  FUZZ_CHECK(getLastThreeDigitsOfDeviceIP(canonical) == last, "the same fourth number");
}

void CheckNumber(const std::string& text, pp::testing::RecordingEmbedding& page) {
  page.clear();
  const long long expected = ReferenceAtoll(text);
  FUZZ_CHECK(SaturatingAtoll(text) == expected, "atoll's reading of the text");
  FUZZ_CHECK(atollWithCheck(text) == expected, "atollWithCheck reads like atoll");
  const auto lines = page.lines();
  const bool overflow = expected == LLONG_MAX || expected == LLONG_MIN;
  FUZZ_CHECK(lines.size() == (overflow ? 1u : 0u), "a result at a limit, and only that, is logged");
  if (overflow) {
    const std::string line =
        std::string(kErrorPrefix) + "Getting value occurs overflow: " + text.c_str();
    FUZZ_CHECK(lines[0] == line.substr(0, 255), "the overflow line names the text");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto& page = fuzz::FreshPage();
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckParseHost(text);
  CheckDeviceAddress(text);
  CheckNumber(text, page);
  if (size >= 2) {
    const unsigned short value = static_cast<unsigned short>(data[0] | (data[1] << 8));
    FUZZ_CHECK(Htons(Htons(value)) == value, "Htons is its own inverse");
    FUZZ_CHECK(Htons(value) == static_cast<unsigned short>((value >> 8) | (value << 8)),
               "Htons swaps the bytes on this little-endian target");
  }
  return 0;
}
