#include "tools/event/printable_text.h"

#include <cstddef>
#include <cstdint>

namespace tool_io {
namespace {

bool IsContinuation(uint8_t byte) {
  return (byte & 0xC0) == 0x80;
}

// The length of the valid UTF-8 sequence of a printable non-ASCII character at
// `at`, or 0 when the bytes there are not one.
size_t PrintableSequenceAt(std::string_view bytes, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(bytes[at + i]); };
  const size_t left = bytes.size() - at;
  const uint8_t lead = byte(0);
  if (lead >= 0xC2 && lead <= 0xDF) {
    if (left < 2 || !IsContinuation(byte(1))) return 0;
    // U+0080 to U+009F are the C1 controls.
    if (lead == 0xC2 && byte(1) < 0xA0) return 0;
    return 2;
  }
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (left < 3 || !IsContinuation(byte(1)) || !IsContinuation(byte(2))) return 0;
    if (lead == 0xE0 && byte(1) < 0xA0) return 0;   // overlong
    if (lead == 0xED && byte(1) >= 0xA0) return 0;  // surrogate halves
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (left < 4 || !IsContinuation(byte(1)) || !IsContinuation(byte(2)) ||
        !IsContinuation(byte(3))) {
      return 0;
    }
    if (lead == 0xF0 && byte(1) < 0x90) return 0;   // overlong
    if (lead == 0xF4 && byte(1) >= 0x90) return 0;  // above U+10FFFF
    return 4;
  }
  return 0;
}

void AppendHexEscape(std::string& line, uint8_t byte) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  line += "\\x";
  line += kDigits[byte >> 4];
  line += kDigits[byte & 0x0F];
}

}  // namespace

std::string EscapeForLine(std::string_view bytes) {
  std::string line;
  line.reserve(bytes.size());
  size_t at = 0;
  while (at < bytes.size()) {
    const auto byte = static_cast<uint8_t>(bytes[at]);
    if (byte == '\\') {
      line += "\\\\";
      ++at;
    } else if (byte >= 0x20 && byte <= 0x7E) {
      line += static_cast<char>(byte);
      ++at;
    } else if (const size_t length = byte >= 0x80 ? PrintableSequenceAt(bytes, at) : 0) {
      line.append(bytes.substr(at, length));
      at += length;
    } else {
      AppendHexEscape(line, byte);
      ++at;
    }
  }
  return line;
}

}  // namespace tool_io
