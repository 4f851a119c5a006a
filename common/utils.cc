#include "common/utils.h"

#include <array>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/logger.h"

namespace {

const std::string version = "NaCl-21.0802.2";

// Reads up to four dotted numbers like "%hu.%hu.%hu.%hu"; numbers after the
// first mismatch stay 0.
std::array<unsigned short, 4> ScanDottedNumbers(const std::string& text) {
  std::array<unsigned short, 4> numbers{0, 0, 0, 0};
  const char* p = text.c_str();
  for (size_t i = 0; i < numbers.size(); ++i) {
    if (i > 0) {
      if (*p != '.') break;
      ++p;
    }
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
      negative = *p == '-';
      ++p;
    }
    if (!std::isdigit(static_cast<unsigned char>(*p))) break;
    unsigned value = 0;  // kept modulo 65536
    while (std::isdigit(static_cast<unsigned char>(*p))) {
      value = (value * 10 + static_cast<unsigned>(*p - '0')) & 0xFFFFu;
      ++p;
    }
    numbers[i] = static_cast<unsigned short>(negative ? (0x10000u - value) & 0xFFFFu : value);
  }
  return numbers;
}

}  // namespace

std::string GetVersion() { return version; }

unsigned short Htons(unsigned short value) {
  const unsigned char bytes[2] = {static_cast<unsigned char>(value >> 8),
                                  static_cast<unsigned char>(value & 0xFF)};
  unsigned short result;
  std::memcpy(&result, bytes, sizeof result);
  return result;
}

void ParseHost(const std::string& host_and_port, const int& default_port, int& port,
               std::string& host) {
  const size_t colon = host_and_port.rfind(':');
  if (colon == std::string::npos) {
    host = host_and_port;
    port = default_port;
    return;
  }
  host = host_and_port.substr(0, colon);
  // atoi without its undefined behaviour on overflow: the saturated value, cut to int.
  port = static_cast<int>(SaturatingAtoll(host_and_port.substr(colon + 1)));
}

std::string getBroadCastIPUsingDeviceIP(std::string device_ip) {
  const auto n = ScanDottedNumbers(device_ip);
  // The address text is bounded by a 16-byte buffer: at most 15 characters.
  constexpr size_t kBroadcastTextMax = 15;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%d.%d.%d.255", n[0], n[1], n[2]);
  return std::string(buffer).substr(0, kBroadcastTextMax);
}

unsigned short getLastThreeDigitsOfDeviceIP(std::string device_ip) {
  return ScanDottedNumbers(device_ip)[3];
}

long long SaturatingAtoll(const std::string& text) {
  return std::strtoll(text.c_str(), nullptr, 10);  // saturates at LLONG_MIN / LLONG_MAX
}

long long atollWithCheck(std::string text) {
  const long long value = SaturatingAtoll(text);
  if (value == LLONG_MAX || value == LLONG_MIN) {
    Logger::Error("Getting value occurs overflow: %s", text.c_str());
  }
  return value;
}
