// Bytes from the network become one safe line of text, from which the exact
// bytes can be recovered.
#include "tools/event/printable_text.h"

#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <string>

namespace tool_io {
namespace {

using namespace std::string_literals;

struct EscapeCase {
  const char* what;
  std::string bytes;
  std::string line;
};

class EscapeForLineTest : public testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeForLineTest, GivesTheDocumentedLine) {
  EXPECT_EQ(EscapeForLine(GetParam().bytes), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EscapeForLineTest,
    testing::Values(EscapeCase{"empty", "", ""},
                    EscapeCase{"printable ASCII", "doorbell 50% {ok}~", "doorbell 50% {ok}~"},
                    EscapeCase{"backslash doubled", "a\\b", "a\\\\b"},
                    EscapeCase{"line breaks and tabs", "a\nb\r\tc", "a\\x0Ab\\x0D\\x09c"},
                    EscapeCase{"zero byte", "a\0b"s, "a\\x00b"}, EscapeCase{"DEL", "\x7f", "\\x7F"},
                    EscapeCase{"terminal escape sequence", "\x1b[2J", "\\x1B[2J"},
                    EscapeCase{"two-byte UTF-8", "caf\xc3\xa9", "caf\xc3\xa9"},
                    EscapeCase{"three-byte UTF-8", "\xe2\x82\xac", "\xe2\x82\xac"},
                    EscapeCase{"four-byte UTF-8", "\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
                    EscapeCase{"lone Latin-1 byte", "caf\xe9", "caf\\xE9"},
                    EscapeCase{"cut sequence", "\xe2\x82", "\\xE2\\x82"},
                    EscapeCase{"cut sequence then ASCII", "\xe2\x82x", "\\xE2\\x82x"},
                    EscapeCase{"C1 control", "\xc2\x85", "\\xC2\\x85"},
                    EscapeCase{"overlong two-byte", "\xc0\xaf", "\\xC0\\xAF"},
                    EscapeCase{"overlong three-byte", "\xe0\x80\xaf", "\\xE0\\x80\\xAF"},
                    EscapeCase{"surrogate half", "\xed\xa0\x80", "\\xED\\xA0\\x80"},
                    EscapeCase{"above U+10FFFF", "\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},
                    EscapeCase{"stray continuation byte", "\x80", "\\x80"}),
    [](const testing::TestParamInfo<EscapeCase>& info) {
      std::string name;
      for (const char c : std::string(info.param.what)) {
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      }
      return name;
    });

// Reads a line back into bytes: \\ and \xHH, everything else as it is.
std::string Unescape(const std::string& line) {
  std::string bytes;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '\\') {
      bytes += line[i];
    } else if (line[i + 1] == '\\') {
      bytes += '\\';
      ++i;
    } else {
      bytes += static_cast<char>(std::stoi(line.substr(i + 2, 2), nullptr, 16));
      i += 3;
    }
  }
  return bytes;
}

TEST(EscapeForLine, AnyBytesGiveOneLineWithoutControlBytesThatReadsBackExactly) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> length(0, 64);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes;
    for (int n = length(random); n > 0; --n) bytes += static_cast<char>(byte(random));
    const std::string line = EscapeForLine(bytes);
    for (const char c : line) {
      const auto u = static_cast<unsigned char>(c);
      ASSERT_TRUE(u >= 0x20 && u != 0x7f) << "control byte in the line of round " << round;
    }
    ASSERT_EQ(Unescape(line), bytes) << "round " << round;
  }
}

}  // namespace
}  // namespace tool_io
