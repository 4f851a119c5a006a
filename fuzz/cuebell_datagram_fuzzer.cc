// A datagram from anyone on the LAN into Cuebell's logic, as the receive loop
// hands it over (its bytes and their number), between page messages; the flag
// byte in front chooses which (input_formats.h).

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "common/utils.h"
#include "cuebell/event_logic.h"
#include "fuzz/byte_reader.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_page.h"
#include "fuzz/input_formats.h"

namespace {

using cuebell::EventLogic;
using cuebell::PacketEvent;
using fuzz::CuebellDatagramHeader;

constexpr long long kNow = 1'700'000'000'000;

pp::VarDictionary Command(const std::string& key, const std::string& value) {
  pp::VarDictionary message;
  message.Set("key", pp::Var(key));
  message.Set("value", pp::Var(value));
  return message;
}

// What the host does after every page message: sends the event text once
// sending is on, and keeps its sockets in line with the two ports.
void AfterPageMessage(const EventLogic& logic) {
  const PacketEvent* packet = logic.GetPacket(kNow);
  FUZZ_CHECK((packet != nullptr) == logic.IsDebuggerMode(), "only sending mode hands out events");
  if (packet) {
    FUZZ_CHECK(strnlen(packet->eventData, sizeof packet->eventData) <= PacketEvent::kMaxTextBytes,
               "the event text is always terminated within its 256 bytes");
  }
  const std::string destination = logic.GetEventSendingIpPort();
  FUZZ_CHECK(destination.size() <= 39, "the destination fits its 40-byte buffer");
  FUZZ_CHECK(destination.rfind("255.255.255.255:", 0) == 0, "events go to the broadcast address");
  int port = 0;
  std::string host;
  ParseHost(destination, 0, port, host);
  logic.GetEventListenPort();
}

void PageMessage(EventLogic& logic, const std::string& key, const std::string& value) {
  logic.LoadMessage(Command(key, value), kNow);
  AfterPageMessage(logic);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::FreshPage();
  fuzz::ByteReader in(data, size);
  const uint8_t flags = in.Byte();
  const int deliveries = 1 + ((flags >> CuebellDatagramHeader::kDeliveriesShift) & 3);
  const std::string datagram = in.Bytes(fuzz::kMaxDatagramBytes);
  const std::string text(datagram.c_str());  // up to the first zero byte
  const std::string expected = text.substr(0, PacketEvent::kMaxTextBytes);

  EventLogic logic;
  if (flags & CuebellDatagramHeader::kDebuggerFirst) PageMessage(logic, "DEBUGGER", "");
  if (flags & CuebellDatagramHeader::kPageEventFirst) PageMessage(logic, "EVENT_TYPE", "cue 1");

  for (int i = 0; i < deliveries && !datagram.empty(); ++i) {
    // Exactly the datagram's bytes, so that AddressSanitizer sees any read past them.
    const auto bytes = std::make_unique<char[]>(datagram.size());
    std::memcpy(bytes.get(), datagram.data(), datagram.size());
    logic.LoadPacket(bytes.get(), datagram.size(), kNow);

    const pp::VarDictionary message = logic.GetExternalMessageToPlayerAfterLoadPacket();
    FUZZ_CHECK(message.size() == 1 && message.HasKey("EVENT_TYPE"),
               "a reception always yields one EVENT_TYPE message");
    FUZZ_CHECK(message.Get("EVENT_TYPE").AsString() == expected,
               "the page gets the datagram's text up to its first zero byte, cut at 255 bytes");
  }

  if (flags & CuebellDatagramHeader::kEchoAsEvent) {
    PageMessage(logic, "EVENT_TYPE", datagram);
    const PacketEvent* packet = logic.GetPacket(kNow);
    if (packet) FUZZ_CHECK(packet->Text() == expected, "a page event is sent cut at 255 bytes");
  }
  if (flags & CuebellDatagramHeader::kEchoAsSendPort) PageMessage(logic, "SET_SEND_PORT", datagram);
  if (flags & CuebellDatagramHeader::kEchoAsListenPort) {
    PageMessage(logic, "SET_PORT", datagram);
    FUZZ_CHECK(logic.GetEventListenPort() == datagram, "the listen port text is kept whole");
  }
  return 0;
}
