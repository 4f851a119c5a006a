#include "pacewire/play_timer_logic.h"

#include <cstdio>
#include <cstring>

#include "common/logger.h"
#include "common/nacl_message.h"
#include "common/utils.h"

namespace pacewire {

namespace {

// Clock arithmetic on numbers the page and the network choose: two's-complement
// wrap-around instead of signed overflow.
int64_t WrappingAdd(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}
int64_t WrappingSub(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}

// The low 32 bits of a number, taken as signed: 4294967296 -> 0, 2147483648 -> -2147483648.
int32_t Low32Bits(long long value) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
}

long long AsLongLong(int64_t value) {
  return static_cast<long long>(value);
}

const char* RoleWord(bool isMaster) {
  return isMaster ? "parent" : "child";
}
const char* TrueFalse(bool value) {
  return value ? "true" : "false";
}

int32_t ReadInt32(const char* data, size_t offset) {
  int32_t value;
  std::memcpy(&value, data + offset, sizeof value);
  return value;
}

constexpr char kNotDictionaryError[] =
    "NaCl message type should be pp::VarDictionary\n\t getting MSG: ";
constexpr size_t kMonitoringDestinationBufferBytes = 40;  // at most 39 characters

}  // namespace

PlayTimerLogic::PlayTimerLogic() = default;
PlayTimerLogic::~PlayTimerLogic() = default;

// ---------------------------------------------------------------- page commands

void PlayTimerLogic::LoadMessage(pp::Var message, int64_t now) {
  const int command = GetMessageType(pp::VarDictionary(message));
  const std::string argument = GetMessageText(message, "value");
  pp::VarDictionary reply;
  notifyPacket.reset();

  if (!message.is_dictionary()) {
    Logger::Error(kNotDictionaryError + message.AsString());
    return;  // the previous reply stays stored, and is posted again
  }

  switch (command) {
    case SET_TOTAL_PLAYTIME:
      syncPacket.currentPageDuration = Low32Bits(atollWithCheck(argument));
      PrintLogTimerInfo(syncPacket);
      PrintLogDeviceInfo();
      break;
    case SET_PORT:
      syncPort = argument;
      break;
    case START_CLOCK_WITH_SYNC_ID:
      SetStartInformation(argument, now);
      reply = DeviceIpRequest();
      break;
    case SET_TOTAL_SCHEDULE_PLAYTIME:
      syncPacket.frameScheduleDuration = Low32Bits(atollWithCheck(argument));
      break;
    case PLAYER_TIMESTAMP_INFO:
      SetTimeStampInformation(argument, now);
      break;
    case SET_DEVICEIP:
      SetDeviceNetworkStatus(argument);
      break;
    case SET_ADJUST_DURATION:
      adjustDuration = Low32Bits(atollWithCheck(argument));
      break;
    case MOVE_PAGE_TO: {
      const int64_t ahead = atollWithCheck(argument);
      contentStartClock = WrappingSub(contentStartClock, ahead);
      frameScheduleStartClock = WrappingSub(frameScheduleStartClock, ahead);
      break;
    }
    case SET_SCHEDULE_START_CLOCK: {
      const int64_t scheduleStart = atollWithCheck(argument);
      const int64_t pageStart = WrappingAdd(scheduleStart, syncPacket.elapsedTimeFromMaster);
      Logger::Log("curClock: %lld -> %lld(%lld)", AsLongLong(contentStartClock),
                  AsLongLong(pageStart), AsLongLong(scheduleStart));
      contentStartClock = pageStart;
      frameScheduleStartClock = scheduleStart;
      break;
    }
    case SET_ELAPSED_PAGES_PLAYTIME:
      syncPacket.elapsedTimeFromMaster = SaturatingAtoll(argument);
      break;
    default:
      Logger::Error("[%d] Unknown message is delivered. Check Pacewire version. message: %s",
                    command, argument.c_str());
      break;
  }
  messageAfterLoadMessage = reply;
}

void PlayTimerLogic::SetStartInformation(const std::string& syncIdText, int64_t now) {
  syncPacket.playTime = 0;
  syncPacket.elapsedTimeFromMaster = 0;
  syncPacket.syncId = Low32Bits(SaturatingAtoll(syncIdText));
  adjustDuration = 0;
  contentStartClock = now;
  frameScheduleStartClock = now;
  if (syncPacket.syncId < 0) {
    isSyncFrameSchedule = false;
    SetMaster(false);
    Logger::Log("Non-Sync FrameSchedule is started.");
  } else {
    isSyncFrameSchedule = true;
    Logger::Log("Sync FrameSchedule is started.");
  }
}

void PlayTimerLogic::SetDeviceNetworkStatus(const std::string& deviceIpText) {
  deviceIP = deviceIpText;
  if (SaturatingAtoll(deviceIpText) < 0) {
    isDeviceIpTrouble = true;
    SetMaster(false);
    Logger::Error("Trouble to get deviceIP.");
    return;
  }
  isDeviceIpTrouble = false;
  broadcastIP = getBroadCastIPUsingDeviceIP(deviceIpText);
  syncPacket.ipLastNumber = getLastThreeDigitsOfDeviceIP(deviceIpText);
  PrintLogDeviceInfo();
}

void PlayTimerLogic::SetTimeStampInformation(const std::string& timeStampText, int64_t now) {
  notifyPacket.header =
      Packet(PacketMonitoringToNotifyPlayStarted::kSize, kPacketTypeNotifyPlayStarted);
  notifyPacket.playStartedClock = now;
  notifyPacket.syncId = syncPacket.syncId;
  WriteTextField(notifyPacket.deviceIP, deviceIP);
  notifyPacket.setTimeStamp(timeStampText);
}

// ------------------------------------------------- sync packets and the election

const Packet* PlayTimerLogic::GetSyncPacket(int64_t now) {
  const bool sends = isMaster && isSyncFrameSchedule && !isDeviceIpTrouble;

  syncPacket.playTime = WrappingAdd(WrappingSub(now, contentStartClock), adjustDuration);
  if (syncPacket.playTime < 0) {
    Logger::Warn("cc: %lld, csc: %lld, ad: %lld", AsLongLong(now), AsLongLong(contentStartClock),
                 static_cast<long long>(adjustDuration));
  }
  if (syncPacket.playTime > syncPacket.currentPageDuration) {
    // The next page starts at this tick, not when the previous one ended.
    syncPacket.playTime = 0;
    syncPacket.elapsedTimeFromMaster =
        WrappingAdd(WrappingSub(now, frameScheduleStartClock), adjustDuration);
    contentStartClock = now;
    if (syncPacket.elapsedTimeFromMaster > syncPacket.frameScheduleDuration) {
      syncPacket.elapsedTimeFromMaster = 0;
      adjustDuration = 0;
      frameScheduleStartClock = now;
      if (syncPacket.frameScheduleDuration >= 1) PrintLogTimerInfo(syncPacket);
    }
  }

  if (!sends) return nullptr;
  syncPacket.header.setType(kPacketTypeSyncPlay);
  return &syncPacket.header;
}

void PlayTimerLogic::LoadPacket(const char* data, int64_t now) {
  if (ReadInt32(data, offsetof(Packet, type)) == kPacketTypeSetMonitoringMode) {
    PacketSetMonitoringMode received;  // the bytes from offset 45 on stay zero: never read
    std::memcpy(static_cast<void*>(&received), data, PacketSetMonitoringMode::kReadBytes);
    HandleMonitoringModePacket(&received);
    return;
  }

  PacketSyncPlay received;
  std::memcpy(&received, data, sizeof received);
  if (received.syncId != syncPacket.syncId || !isSyncFrameSchedule) return;

  noParentTickCount = 0;
  if (isMaster) {
    DecideMaster(&received);
    // A parent that stays keeps its own times: they are the group's. Taking
    // the yielding parent's elapsed pages time would put its next packets a
    // page or more away from its own clocks, and the whole group would jump
    // at its next page change.
    if (isMaster) return;
  } else {
    contentStartClock = WrappingSub(now, received.playTime);
    frameScheduleStartClock = WrappingSub(contentStartClock, received.elapsedTimeFromMaster);
  }
  syncPacket.elapsedTimeFromMaster = received.elapsedTimeFromMaster;
  syncPacket.playTime = received.playTime;
}

void PlayTimerLogic::DecideMaster(const PacketSyncPlay* received) {
  // Our own broadcast coming back, or a parent whose address ends like ours.
  if (received->ipLastNumber == syncPacket.ipLastNumber) return;

  Logger::Warn("Equal SID: %d, IP diff %d %d.", received->syncId, received->ipLastNumber,
               syncPacket.ipLastNumber);
  if (received->ipLastNumber < syncPacket.ipLastNumber) {
    Logger::Log("Another parent will be closed.");
  } else {
    SetMaster(false);
  }
}

void PlayTimerLogic::SetMaster(bool value) {
  if (value != isMaster) Logger::Log("Device is set to %s", RoleWord(value));
  isMaster = value;
}

// ------------------------------------------------------------ messages to the page

pp::VarDictionary PlayTimerLogic::PlayTimeMessage() const {
  pp::VarDictionary message;
  message.Set("SET_PLAYTIME", pp::Var(std::to_string(syncPacket.playTime)));
  message.Set("SET_ELAPSED_PAGES_PLAYTIME",
              pp::Var(std::to_string(syncPacket.elapsedTimeFromMaster)));
  return message;
}

pp::VarDictionary PlayTimerLogic::DeviceIpRequest() {
  pp::VarDictionary message;
  message.Set("REQUEST_DEVICE_IP", pp::Var(std::string()));
  return message;
}

pp::VarDictionary PlayTimerLogic::GetMessageToPlayer() {
  if (!isSyncFrameSchedule) return PlayTimeMessage();

  if (!isDeviceIpTrouble) {
    troubleTickCount = 0;
    ++noParentTickCount;
    if (noParentTickCount < kParentSearchTimeoutTicks) return pp::VarDictionary();
    const int searchedMs = noParentTickCount * kTickMilliseconds;
    if (isMaster) {
      Logger::Warn("Could not find any parent during %d ms even though ** I AM A PARENT **.",
                   searchedMs);
    } else {
      Logger::Warn("Could not find any parent during %d ms. Try to be parent.", searchedMs);
    }
    SetMaster(!isMaster);
    noParentTickCount = 0;
    return DeviceIpRequest();
  }

  if (troubleTickCount < kTroubleTicksBeforeRequest) {
    ++troubleTickCount;
    return PlayTimeMessage();
  }
  troubleTickCount = 0;
  return DeviceIpRequest();
}

pp::VarDictionary PlayTimerLogic::GetMessageToPlayerAfterLoadPacket() const {
  return isSyncFrameSchedule ? PlayTimeMessage() : pp::VarDictionary();
}

pp::VarDictionary PlayTimerLogic::GetMessageToPlayerAfterLoadMessage() const {
  return pp::VarDictionary(messageAfterLoadMessage);
}

// ---------------------------------------------------------------- monitoring mode

void PlayTimerLogic::HandleMonitoringModePacket(const PacketSetMonitoringMode* received) {
  SetMonitoringMode(received->switchesOn());
  char destination[kMonitoringDestinationBufferBytes];
  std::snprintf(destination, sizeof destination, "%s:%d", received->address().c_str(),
                received->monitoringPort);
  Logger::Log("Monitoring mode is set to %s (Addr: %s)", TrueFalse(isMonitoringMode), destination);
  monitoringCastIpPort = destination;
}

const Packet* PlayTimerLogic::GetMonitoringPacket(int64_t now) {
  if (monitoringPacketCount > kMonitoringPacketLimit) {
    monitoringPacketCount = 0;
    SetMonitoringMode(false);
  }
  if (!isMonitoringMode) return nullptr;

  monitoringPacket.header = Packet(PacketMonitoring::kSize, kPacketTypeMonitoring);
  WriteTextField(monitoringPacket.deviceIP, deviceIP);
  monitoringPacket.packetClock = now;
  monitoringPacket.isMaster = isMaster ? 1 : 0;
  monitoringPacket.syncPlay = syncPacket;
  ++monitoringPacketCount;
  return &monitoringPacket.header;
}

const Packet* PlayTimerLogic::GetMonitoringPacketAfterLoadMessage(int64_t /*now*/) const {
  if (!isMonitoringMode || notifyPacket.header.getType() != kPacketTypeNotifyPlayStarted) {
    return nullptr;
  }
  return &notifyPacket.header;
}

// ---------------------------------------------------------------- diagnostic lines

void PlayTimerLogic::PrintLogTimerInfo(const PacketSyncPlay& record) const {
  Logger::Log(
      "[%s][SID: %d][%d][%lld ms], currentPageDuration = %d ms, elapsedTimeFromMaster = %lld ms, "
      "frameScheduleDuration = %d ms",
      isMaster ? "Parent" : "Child", record.syncId, record.ipLastNumber,
      AsLongLong(record.playTime), record.currentPageDuration,
      AsLongLong(record.elapsedTimeFromMaster), record.frameScheduleDuration);
}

void PlayTimerLogic::PrintLogDeviceInfo() const {
  Logger::Log("[%s] SID: %d, P(%s), IP: %d, M: %s, total: %d ms", GetVersion().c_str(),
              syncPacket.syncId, syncPort.c_str(), syncPacket.ipLastNumber, TrueFalse(isMaster),
              syncPacket.currentPageDuration);
}

}  // namespace pacewire
