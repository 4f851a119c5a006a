// Writes the seed corpora of the fuzz targets (fuzz/corpus/<target>/) from the
// wire examples: records made by the real logic where the logic makes them,
// and byte layouts written field by field where only a foreign device or tool
// makes them. Run it to regenerate the seeds after a format change:
//
//   fuzz_seed_writer fuzz/corpus

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "fuzz/input_formats.h"
#include "fuzz/var_codec.h"
#include "pacewire/packets.h"
#include "pacewire/play_timer_logic.h"

namespace {

namespace fs = std::filesystem;
using fuzz::CuebellDatagramHeader;
using fuzz::PacewireDatagramHeader;
using fuzz::PageMessageHeader;
using pacewire::Packet;
using pacewire::PlayTimerLogic;

constexpr int64_t kClock = 1'700'000'000'000;

const char* const kCommands[] = {
    "SET_TOTAL_PLAYTIME",
    "STOP_CLOCK",
    "CREATE_RECEIVER",
    "CREATE_SENDER",
    "BROADCAST_PLAYTIME",
    "SET_PORT",
    "SET_PLAYTIME",
    "SET_SYNC_ID",
    "START_CLOCK_WITH_SYNC_ID",
    "SET_TOTAL_SCHEDULE_PLAYTIME",
    "CLOSE_RECEIVER",
    "PLAYER_TIMESTAMP_INFO",
    "START_MONITORING",
    "DEBUGGER",
    "SET_DEVICEIP",
    "SET_ADJUST_DURATION",
    "EVENT_TYPE",
    "SET_SEND_PORT",
    "MOVE_PAGE_TO",
    "SET_SCHEDULE_START_CLOCK",
    "SET_ELAPSED_PAGES_PLAYTIME",
};

// A typical argument of each command, as a page sends it.
std::string TypicalValue(const std::string& command) {
  if (command == "SET_TOTAL_PLAYTIME") return "15000";
  if (command == "SET_PORT") return "47475";
  if (command == "START_CLOCK_WITH_SYNC_ID") return "7";
  if (command == "SET_TOTAL_SCHEDULE_PLAYTIME") return "60000";
  if (command == "PLAYER_TIMESTAMP_INFO") return "2021-08-02T10:00:00.000Z";
  if (command == "SET_DEVICEIP") return "192.168.0.23";
  if (command == "SET_ADJUST_DURATION") return "-250";
  if (command == "EVENT_TYPE") return "cue 100% ready";
  if (command == "SET_SEND_PORT") return "6000";
  if (command == "MOVE_PAGE_TO") return "-2000";
  if (command == "SET_SCHEDULE_START_CLOCK") return "1699999990000";
  if (command == "SET_ELAPSED_PAGES_PLAYTIME") return "30000";
  return "";
}

class CorpusWriter {
 public:
  explicit CorpusWriter(fs::path root) : root_(std::move(root)) {}

  void Write(const std::string& target, const std::string& name, const std::string& bytes) {
    const fs::path dir = root_ / target;
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", (dir / name).c_str());
      std::exit(1);
    }
    ++written_;
  }
  int written() const { return written_; }

 private:
  fs::path root_;
  int written_ = 0;
};

pp::VarDictionary Command(const std::string& key, const std::string& value) {
  pp::VarDictionary message;
  message.Set("key", pp::Var(key));
  message.Set("value", pp::Var(value));
  return message;
}

std::string Bytes(const Packet* packet) {
  return std::string(reinterpret_cast<const char*>(packet), static_cast<size_t>(packet->getSize()));
}

template <typename T>
void Put(std::string& bytes, size_t offset, T value) {
  if (bytes.size() < offset + sizeof value) bytes.resize(offset + sizeof value, '\0');
  std::memcpy(bytes.data() + offset, &value, sizeof value);
}

void Expect(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "seed writer: %s\n", what);
    std::exit(1);
  }
}

// ---- Records as the play-time logic makes them ----

// The sync packet of a parent with sync ID 7 whose address ends in .23, 1500 ms
// into a 15000 ms page.
std::string SyncPacketSid7() {
  PlayTimerLogic logic;
  logic.LoadMessage(Command("START_CLOCK_WITH_SYNC_ID", "7"), kClock);
  logic.LoadMessage(Command("SET_DEVICEIP", "192.168.0.23"), kClock);
  logic.LoadMessage(Command("SET_TOTAL_PLAYTIME", "15000"), kClock);
  logic.LoadMessage(Command("SET_TOTAL_SCHEDULE_PLAYTIME", "60000"), kClock);
  logic.SetMaster(true);
  const std::string bytes = Bytes(logic.GetSyncPacket(kClock + 1500));
  const unsigned char head[] = {0x30, 0, 0, 0, 0x04, 0, 0, 0, 0x07, 0, 0, 0};
  Expect(bytes.size() == 48 && std::memcmp(bytes.data(), head, sizeof head) == 0 &&
             bytes.substr(16, 8) == std::string("\xDC\x05\0\0\0\0\0\0", 8) &&
             bytes.substr(32, 4) == std::string("\x17\0\0\0", 4),
         "the sync packet of sync ID 7 is not the documented one");
  return bytes;
}

std::string MonitoringRecord() {
  PlayTimerLogic logic;
  logic.LoadMessage(Command("START_CLOCK_WITH_SYNC_ID", "7"), kClock);
  logic.LoadMessage(Command("SET_DEVICEIP", "192.168.0.23"), kClock);
  logic.SetMonitoringMode(true);
  logic.GetSyncPacket(kClock + 100);
  return Bytes(logic.GetMonitoringPacket(kClock + 100));
}

std::string NotifyRecord() {
  PlayTimerLogic logic;
  logic.LoadMessage(Command("START_CLOCK_WITH_SYNC_ID", "7"), kClock);
  logic.LoadMessage(Command("SET_DEVICEIP", "192.168.0.23"), kClock);
  logic.SetMonitoringMode(true);
  logic.LoadMessage(Command("PLAYER_TIMESTAMP_INFO", "10:00:00.000"), kClock);
  return Bytes(logic.GetMonitoringPacketAfterLoadMessage(kClock));
}

// ---- Datagrams only a monitoring tool or a foreign device makes ----

std::string SetMonitoring(const std::string& address, int32_t port, uint8_t monitoringOn) {
  std::string bytes(45, '\0');
  Put<int32_t>(bytes, 0, 45);
  Put<int32_t>(bytes, 4, pacewire::kPacketTypeSetMonitoringMode);
  Put<int32_t>(bytes, 8, port);
  std::memcpy(bytes.data() + 12, address.data(), address.size() < 32 ? address.size() : 32);
  Put<uint8_t>(bytes, 44, monitoringOn);
  return bytes;
}

std::string SyncFields(int32_t syncId, int64_t playTime, int64_t elapsed, int32_t ipLastNumber) {
  std::string bytes(48, '\0');
  Put<int32_t>(bytes, 0, 48);
  Put<int32_t>(bytes, 4, pacewire::kPacketTypeSyncPlay);
  Put<int32_t>(bytes, 8, syncId);
  Put<int64_t>(bytes, 16, playTime);
  Put<int64_t>(bytes, 24, elapsed);
  Put<int32_t>(bytes, 32, ipLastNumber);
  return bytes;
}

void WritePacewireDatagrams(CorpusWriter& corpus) {
  const std::string target = "pacewire_datagram";
  const auto header = [](uint8_t flags, uint8_t ip, uint8_t ticksBefore = 1,
                         uint8_t deliveries = 0) {
    PacewireDatagramHeader h;
    h.flags = flags;
    h.ipLastNumber = ip;
    h.ticksBefore = ticksBefore;
    h.deliveries = deliveries;
    return h.Encode();
  };
  using H = PacewireDatagramHeader;
  const std::string sync = SyncPacketSid7();
  corpus.Write(target, "sync_sid7_child_adopts", header(0, 10) + sync);
  corpus.Write(target, "sync_sid7_parent_yields", header(H::kParent, 10, 1, 1) + sync);
  corpus.Write(target, "sync_sid7_parent_stays", header(H::kParent | H::kMonitoring, 30) + sync);
  corpus.Write(target, "sync_sid7_own_echo", header(H::kParent, 23, 1, 3) + sync);
  corpus.Write(target, "sync_sid7_foreign_group", header(H::kForeignGroup, 10, 40) + sync);
  corpus.Write(target, "sync_sid7_non_sync", header(H::kNonSync | H::kMonitoring, 10) + sync);
  corpus.Write(target, "sync_sid7_ip_trouble",
               header(H::kDeviceIpTrouble | H::kParent, 10, 60) + sync);
  corpus.Write(target, "sync_12_bytes", header(0, 10) + SyncFields(7, 1500, 0, 23).substr(0, 12));
  corpus.Write(target, "sync_extreme_clocks",
               header(0, 10, 2, 2) + SyncFields(7, std::numeric_limits<int64_t>::min(),
                                                std::numeric_limits<int64_t>::max(), -1));
  corpus.Write(target, "set_monitoring_on",
               header(0, 10) + SetMonitoring("192.168.0.9", 50000, 0x01));
  corpus.Write(target, "set_monitoring_bit0_only",
               header(H::kMonitoring, 10, 1, 1) + SetMonitoring("127.0.0.1", 50000, 0x02));
  corpus.Write(target, "set_monitoring_address_without_nul",
               header(0, 10) + SetMonitoring(std::string(32, '9'), -1, 0x03));
  corpus.Write(target, "set_monitoring_empty_address", header(0, 10) + SetMonitoring("", 0, 1));
  corpus.Write(target, "monitoring_record", header(H::kMonitoring, 10) + MonitoringRecord());
  corpus.Write(target, "notify_record", header(H::kMonitoring, 10) + NotifyRecord());

  std::string full = sync;
  full.resize(fuzz::kMaxDatagramBytes, '\xA5');
  corpus.Write(target, "datagram_1024_bytes", header(H::kParent, 200, 1, 1) + full);
}

void WriteCuebellDatagrams(CorpusWriter& corpus) {
  const std::string target = "cuebell_datagram";
  using H = CuebellDatagramHeader;
  const auto flags = [](uint8_t bits) { return std::string(1, static_cast<char>(bits)); };
  corpus.Write(target, "event_abc", flags(0) + "abc");
  corpus.Write(target, "event_percent_signs",
               flags(H::kDebuggerFirst | H::kEchoAsEvent) + "cue %s %n %d 100%% done");
  corpus.Write(target, "event_zero_byte",
               flags(H::kPageEventFirst) + std::string("text\0more after zero", 20));
  corpus.Write(
      target, "event_1024_bytes_no_zero",
      flags(H::kDebuggerFirst | H::kEchoAsEvent | H::kEchoAsSendPort | (1 << H::kDeliveriesShift)) +
          std::string(fuzz::kMaxDatagramBytes, 'x'));
  std::string cut_in_character(254, 'a');
  cut_in_character += "\xC3\xA9\xC3\xA9";  // the 255-byte cut falls inside a character
  corpus.Write(target, "event_cut_inside_character", flags(H::kDebuggerFirst) + cut_in_character);
  corpus.Write(target, "event_as_ports", flags(H::kEchoAsSendPort | H::kEchoAsListenPort) + "6000");
  corpus.Write(target, "no_datagram", flags(H::kDebuggerFirst | H::kPageEventFirst));
}

void WritePageMessages(CorpusWriter& corpus) {
  const std::string target = "page_message";
  const auto script = [](uint8_t flags, const std::vector<pp::Var>& messages) {
    std::string bytes(1, static_cast<char>(flags));
    for (const pp::Var& message : messages) {
      fuzz::EncodeVar(message, bytes);
      bytes += static_cast<char>((6 << 2) | 1);  // 96 ms, then one tick
    }
    return bytes;
  };
  for (const char* command : kCommands) {
    corpus.Write(target, std::string("command_") + command,
                 script(0, {Command(command, TypicalValue(command))}));
  }
  corpus.Write(
      target, "sync_start_then_time_stamp",
      script(PageMessageHeader::kMonitoring,
             {Command("START_CLOCK_WITH_SYNC_ID", "7"), Command("SET_DEVICEIP", "192.168.0.23"),
              Command("PLAYER_TIMESTAMP_INFO", "10:00:00.000"), pp::Var("hello")}));
  corpus.Write(
      target, "number_limits",
      script(PageMessageHeader::kDebugLogsOff,
             {Command("MOVE_PAGE_TO", "-9223372036854775808"),
              Command("SET_SCHEDULE_START_CLOCK", "99999999999999999999"),
              Command("SET_TOTAL_PLAYTIME", "4294967296"), Command("SET_DEVICEIP", "-1")}));

  pp::VarDictionary no_key;
  no_key.Set("value", pp::Var("47475"));
  pp::VarDictionary number_key;
  number_key.Set("key", pp::Var(int32_t{5}));
  number_key.Set("value", pp::Var(2.5));
  pp::VarArray array;
  array.Push(pp::Var("SET_PORT"));
  array.Push(pp::Var(pp::Var::Null()));
  array.Push(pp::Var(true));
  pp::VarDictionary nested = Command("EVENT_TYPE", "x");
  nested.Set("extra", array);
  corpus.Write(target, "not_dictionaries",
               script(0, {pp::Var("hello"), pp::Var(int32_t{8}), array, pp::Var()}));
  corpus.Write(target, "odd_envelopes", script(0, {no_key, number_key, nested}));
}

void WriteAddresses(CorpusWriter& corpus) {
  const std::string target = "address_helpers";
  const char* const texts[][2] = {
      {"device_ip", "192.168.0.12"},
      {"three_numbers", "192.168.0"},
      {"above_255", "300.1.2.3"},
      {"largest_numbers", "65535.65535.65535.65535"},
      {"above_16_bits", "70000.-1.+2. 3"},
      {"broadcast_and_port", "255.255.255.255:47475"},
      {"two_colons", "a:b:55555"},
      {"leading_colon", ":0"},
      {"port_with_letters", "127.0.0.1:80x"},
      {"twenty_nines", "99999999999999999999"},
      {"minus_twenty_nines", "-99999999999999999999"},
      {"spaces_sign_digits", " \t+0012abc"},
      {"no_address", "-1"},
      {"int64_max", "9223372036854775807"},
  };
  for (const auto& [name, text] : texts) corpus.Write(target, name, text);
}

void WritePageLines(CorpusWriter& corpus) {
  const std::string target = "page_channel";
  for (const char* command : kCommands) {
    corpus.Write(
        target, std::string("command_") + command,
        std::string(R"({"key":")") + command + R"(","value":")" + TypicalValue(command) + "\"}");
  }
  corpus.Write(target, "string", R"("hello")");
  corpus.Write(target, "numbers", "4294967296\n-7\n2.5e-3\n-0\n18446744073709551615");
  corpus.Write(target, "nested",
               R"({"key":"SET_PORT","value":"47475","n":{"x":[1,2.5,null,true]}})");
  corpus.Write(target, "escapes", R"("\u00ff\u0000\ud83d\ude00 tab\t \"q\" \\")");
  corpus.Write(target, "posted_lines",
               "\"[LOG]: [ 5: SET_PORT] 47475\"\n{\"EVENT_TYPE\":\"caf\xC3\xA9 \\u00ff\"}");
  corpus.Write(target, "not_json", "{\"key\":\nnot json\n\xFF\xFE");
  const auto nested = [](size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
  };
  corpus.Write(target, "nested_64_and_65", nested(64) + "\n" + nested(65));
  // Once overflowed the stack: every level took a frame when the line became a page value.
  corpus.Write(target, "regression_deep_nesting", nested(16000));
  // Once read as the string "" (the parser stopped at the zero byte), then
  // decoded past it into an escape without digits.
  corpus.Write(target, "regression_zero_byte_then_escape", std::string("\"\"\0\\u", 5));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_ROOT (fuzz/corpus)\n", argv[0]);
    return 2;
  }
  CorpusWriter corpus(argv[1]);
  WritePacewireDatagrams(corpus);
  WriteCuebellDatagrams(corpus);
  WritePageMessages(corpus);
  WriteAddresses(corpus);
  WritePageLines(corpus);
  std::printf("wrote %d seeds under %s\n", corpus.written(), argv[1]);
  return 0;
}
