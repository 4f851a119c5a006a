// The event text that travels between the page and the network, in either
// direction. On the wire an event datagram is the text's bytes and nothing else.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

namespace cuebell {

struct PacketEvent {
  static constexpr size_t kMaxTextBytes = 255;

  PacketEvent() { eventData[0] = '\0'; }

  // Keeps at most the first 255 bytes of `text`, always terminated. A cut may
  // fall inside a multi-byte character: the bytes are kept as they are.
  void SetText(const char* text, size_t length) {
    const size_t kept = length < kMaxTextBytes ? length : kMaxTextBytes;
    std::memcpy(eventData, text, kept);
    eventData[kept] = '\0';
  }
  void SetText(const std::string& text) { SetText(text.data(), text.size()); }
  std::string Text() const { return std::string(eventData); }

  char eventData[kMaxTextBytes + 1];
};

}  // namespace cuebell
