// Text and address helpers shared by both modules.
#pragma once

#include <string>

// The module's version text, the same in both modules.
std::string GetVersion();

// `value` in network byte order (high byte first in memory).
unsigned short Htons(unsigned short value);

// Splits "host:port" at its last colon. Without a colon the whole text is the
// host and the port is `default_port`; the port text reads as atoi reads it.
void ParseHost(const std::string& host_and_port, const int& default_port, int& port,
               std::string& host);

// The /24 broadcast address of a dotted device address: its first three
// numbers followed by .255, cut to 15 characters.
//
// The dotted numbers are read as the scan format "%hu.%hu.%hu.%hu" reads them
// (white space, an optional sign, decimal digits), with two rules of our own:
// a number that is missing reads as 0, and a number above 65535 is reduced
// modulo 65536.
std::string getBroadCastIPUsingDeviceIP(std::string device_ip);

// The fourth dotted number of a device address, read as above.
unsigned short getLastThreeDigitsOfDeviceIP(std::string device_ip);

// The signed 64-bit value of a decimal text, saturating at the 64-bit limits; a
// result at either limit is logged as an overflow. Text without digits reads as 0.
long long atollWithCheck(std::string text);

// The C library's atoll with the saturating behaviour above and no log line.
long long SaturatingAtoll(const std::string& text);
