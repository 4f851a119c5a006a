// Arbitrary page messages (any value tree, var_codec.h) into the command table
// and into both modules' logics, each followed by what the hosts ask the
// logics after a page message and on the ticks that follow it.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/logger.h"
#include "common/nacl_message.h"
#include "common/utils.h"
#include "cuebell/event_logic.h"
#include "fuzz/byte_reader.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_page.h"
#include "fuzz/input_formats.h"
#include "fuzz/var_codec.h"
#include "pacewire/packets.h"
#include "pacewire/play_timer_logic.h"

namespace {

using fuzz::PageMessageHeader;
using pacewire::Packet;
using pacewire::PlayTimerLogic;

constexpr int64_t kStartClock = 1'700'000'000'000;

void Send(const Packet* packet) {
  if (!packet) return;
  std::vector<uint8_t> wire(static_cast<size_t>(packet->getSize()));
  std::memcpy(wire.data(), packet, wire.size());
}

void CheckCommandTable(const pp::Var& message, pp::testing::RecordingEmbedding& page) {
  const size_t before = page.posted().size();
  const int command = GetMessageType(pp::VarDictionary(message));
  FUZZ_CHECK(command >= -1 && command <= SET_ELAPSED_PAGES_PLAYTIME, "a known number or -1");
  const std::string key = GetMessageText(message, "key");
  FUZZ_CHECK(command == NaClMessage().ParseCommandEnum(key), "the number is the key's");
  const auto posted = page.posted();
  const size_t lines = posted.size() - before;
  FUZZ_CHECK(lines == (command == PLAYER_TIMESTAMP_INFO ? 0u : 1u), "one envelope line");
  if (lines == 1) {
    const std::string line = posted.back().AsString();
    FUZZ_CHECK(line.size() <= 255, "a formatted line is cut at 255 bytes");
    FUZZ_CHECK(line.rfind(kLogPrefix, 0) == 0, "the envelope line is at the Log level");
  }
}

void PacewireAfterMessage(PlayTimerLogic& logic, int64_t now) {
  logic.GetMessageToPlayerAfterLoadMessage();
  const Packet* notify = logic.GetMonitoringPacketAfterLoadMessage(now);
  if (notify) {
    FUZZ_CHECK(notify->getSize() == pacewire::PacketMonitoringToNotifyPlayStarted::kSize,
               "the notify record is 72 bytes");
  }
  Send(notify);
  int port = 0;
  std::string host;
  ParseHost(logic.GetSyncCastIpPort(), 0, port, host);
  logic.GetSyncListenPort();
}

void PacewireTick(PlayTimerLogic& logic, int64_t now) {
  Send(logic.GetSyncPacket(now));
  Send(logic.GetMonitoringPacket(now));
  logic.GetMessageToPlayer();
}

void CuebellAfterMessage(const cuebell::EventLogic& logic, int64_t now) {
  const cuebell::PacketEvent* packet = logic.GetPacket(now);
  if (packet) {
    FUZZ_CHECK(strnlen(packet->eventData, sizeof packet->eventData) <= 255,
               "the event text is terminated within its buffer");
  }
  FUZZ_CHECK(logic.GetEventSendingIpPort().size() <= 39, "the destination fits its buffer");
  logic.GetEventListenPort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto& page = fuzz::FreshPage();
  fuzz::ByteReader in(data, size);
  const uint8_t flags = in.Byte();
  Logger::EnableDebugLogs(!(flags & PageMessageHeader::kDebugLogsOff));

  PlayTimerLogic pacewireLogic;
  cuebell::EventLogic cuebellLogic;
  if (flags & PageMessageHeader::kMonitoring) pacewireLogic.SetMonitoringMode(true);
  int64_t now = kStartClock;

  for (size_t round = 0; round < PageMessageHeader::kMaxMessages && !in.empty(); ++round) {
    const pp::Var message = fuzz::DecodeVar(in);
    const uint8_t timing = in.Byte();
    now += int64_t{timing >> 2} * 16;

    CheckCommandTable(message, page);
    pacewireLogic.LoadMessage(message, now);
    PacewireAfterMessage(pacewireLogic, now);
    cuebellLogic.LoadMessage(message, now);
    CuebellAfterMessage(cuebellLogic, now);

    for (int tick = 0; tick < (timing & 3); ++tick) {
      now += PlayTimerLogic::kTickMilliseconds;
      PacewireTick(pacewireLogic, now);
    }
    page.clear();
  }
  Logger::EnableDebugLogs(true);
  return 0;
}
