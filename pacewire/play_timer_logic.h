// The play-time synchronisation logic of one device: the timer state of the
// page's frame schedule, the page's commands, the sync packets, the election of
// the group's parent, clock adoption, the messages to the page and monitoring.
//
// It does no input or output of its own: the host hands it each page message
// and each received datagram with the current clock, and asks it every tick for
// the packets to send and the message to post. It takes no lock: the host calls
// it from one thread at a time.
//
// Clock arithmetic wraps modulo 2^64 instead of overflowing, so hostile numbers
// from the page (a start clock of the 64-bit minimum, say) give odd times but
// never undefined behaviour.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "pacewire/packets.h"
#include "platform/var.h"

namespace pacewire {

class PlayTimerLogic {
 public:
  static constexpr char kDefaultSyncPort[] = "47475";
  static constexpr char kDefaultBroadcastIP[] = "255.255.255.255";
  // The host's tick, in ms; the parent-search warning counts in it.
  static constexpr int32_t kTickMilliseconds = 100;
  // Ticks in sync mode without a group packet after which the role flips.
  static constexpr int32_t kParentSearchTimeoutTicks = 31;
  // Ticks in device-IP trouble answered with the play time before the page is
  // asked for the address again (on the next one).
  static constexpr int32_t kTroubleTicksBeforeRequest = 51;
  // Monitoring switches itself off once this many packets have been made, on
  // the tick after the last one.
  static constexpr int32_t kMonitoringPacketLimit = 36000;
  // A received datagram lies at the start of a zero-filled buffer of this many
  // bytes; LoadPacket reads no more than one record's worth of it.
  static constexpr size_t kReceiveBufferBytes = 1024;

  PlayTimerLogic();
  virtual ~PlayTimerLogic();

  // ---- Page commands ----
  // Handles one page message ({"key": command name, "value": argument text}).
  void LoadMessage(pp::Var message, int64_t now);
  // Starts the frame schedule; a negative sync ID means non-sync mode.
  void SetStartInformation(const std::string& syncIdText, int64_t now);
  // Takes the device's address; a negative number means it has none usable.
  void SetDeviceNetworkStatus(const std::string& deviceIpText);
  // Fills the notify record that follows this page message to a monitoring tool.
  void SetTimeStampInformation(const std::string& timeStampText, int64_t now);

  // ---- Where the host's sockets point ----
  std::string GetSyncListenPort() const { return syncPort; }
  std::string GetSyncCastIpPort() const { return broadcastIP + ":" + syncPort; }
  std::string GetMonitoringCastIpPort() const { return monitoringCastIpPort; }

  // ---- Sync packets, election and clock adoption ----
  // Advances the play clock; the sync record to broadcast when this device is
  // the parent of a group and has a usable address, else null.
  const Packet* GetSyncPacket(int64_t now);
  // Takes in one received datagram. `data` is the start of the receive buffer
  // (kReceiveBufferBytes, zero past the datagram); at most the first
  // sizeof(PacketSyncPlay) bytes are read, through copies, so any alignment and
  // any content are fine.
  void LoadPacket(const char* data, int64_t now);
  // The tie-break between two parents of a group: the greater last address
  // number stays parent.
  void DecideMaster(const PacketSyncPlay* received);
  void SetMaster(bool value);
  void SetContentStartClock(int64_t clock) { contentStartClock = clock; }
  void SetFrameScheduleStartClock(int64_t clock) { frameScheduleStartClock = clock; }
  void SetAdjustDurationToInit() { adjustDuration = 0; }

  // ---- Messages to the page (empty dictionary: nothing to post) ----
  // Once per tick; also runs the parent-search time-out.
  pp::VarDictionary GetMessageToPlayer();
  pp::VarDictionary GetMessageToPlayerAfterLoadPacket() const;
  pp::VarDictionary GetMessageToPlayerAfterLoadMessage() const;

  // ---- Monitoring mode ----
  void HandleMonitoringModePacket(const PacketSetMonitoringMode* received);
  void SetMonitoringMode(bool value) { isMonitoringMode = value; }
  // Once per tick, after GetSyncPacket: the monitoring record while monitoring
  // mode is on, else null.
  const Packet* GetMonitoringPacket(int64_t now);
  // After each page message: the notify record right after a time stamp while
  // monitoring mode is on, else null.
  const Packet* GetMonitoringPacketAfterLoadMessage(int64_t now) const;

  // ---- Diagnostic lines ----
  void PrintLogTimerInfo(const PacketSyncPlay& record) const;
  void PrintLogDeviceInfo() const;

  // ---- Read-only views of the state, for tests and the simulator ----
  const PacketSyncPlay& GetSyncRecord() const { return syncPacket; }
  bool IsMaster() const { return isMaster; }
  bool IsSyncFrameSchedule() const { return isSyncFrameSchedule; }
  bool IsDeviceIpTrouble() const { return isDeviceIpTrouble; }
  bool IsMonitoringMode() const { return isMonitoringMode; }
  int32_t GetNoParentTickCount() const { return noParentTickCount; }
  int32_t GetTroubleTickCount() const { return troubleTickCount; }
  int32_t GetMonitoringPacketCount() const { return monitoringPacketCount; }
  int64_t GetContentStartClock() const { return contentStartClock; }
  int64_t GetFrameScheduleStartClock() const { return frameScheduleStartClock; }
  int32_t GetAdjustDuration() const { return adjustDuration; }
  std::string GetDeviceIP() const { return deviceIP; }

 private:
  pp::VarDictionary PlayTimeMessage() const;
  static pp::VarDictionary DeviceIpRequest();

  PacketSyncPlay syncPacket;
  PacketMonitoringToNotifyPlayStarted notifyPacket;
  PacketMonitoring monitoringPacket;
  int64_t contentStartClock = 0;
  int64_t frameScheduleStartClock = 0;
  bool isMaster = false;
  bool isMonitoringMode = false;
  bool isSyncFrameSchedule = false;
  bool isDeviceIpTrouble = false;
  int32_t noParentTickCount = 0;
  int32_t troubleTickCount = 0;
  int32_t monitoringPacketCount = 0;
  int32_t adjustDuration = 0;
  pp::Var messageAfterLoadMessage;  // undefined until the first page message
  std::string deviceIP;
  std::string syncPort = kDefaultSyncPort;
  std::string monitoringCastIpPort;
  std::string broadcastIP = kDefaultBroadcastIP;
};

static_assert(sizeof(PacketSyncPlay) <= PlayTimerLogic::kReceiveBufferBytes);
static_assert(PacketSetMonitoringMode::kReadBytes <= PlayTimerLogic::kReceiveBufferBytes);

}  // namespace pacewire
