#include "cuebell/event_logic.h"

#include <cstdio>
#include <cstring>

#include "common/logger.h"
#include "common/nacl_message.h"

namespace cuebell {

namespace {
// The destination text is formatted into a 40-byte buffer: at most 39 bytes.
constexpr size_t kSendingIpPortMaxBytes = 39;
constexpr char kBroadcastAddressPrefix[] = "255.255.255.255:";
}  // namespace

EventLogic::EventLogic() = default;
EventLogic::~EventLogic() = default;

void EventLogic::LoadMessage(pp::Var message, long long /*now*/) {
  const int command = GetMessageType(pp::VarDictionary(message));
  const std::string value = GetMessageText(message, "value");
  switch (command) {
    case EVENT_TYPE:
      Logger::Log("Trialhorn set eventData to getting message: %s", value.c_str());
      eventPacket.SetText(value);
      break;
    case SET_PORT:
      Logger::Log("Cuebell get new port : %s", value.c_str());
      eventListenPort = value;
      break;
    case SET_SEND_PORT:
      Logger::Log("Trialhorn get new port : %s", value.c_str());
      eventSendingIpPort = (kBroadcastAddressPrefix + value).substr(0, kSendingIpPortMaxBytes);
      break;
    case DEBUGGER:
      debuggerMode = true;
      break;
    default:
      Logger::Log("type: %2d", command);
      break;
  }
}

void EventLogic::LoadPacket(const char* data, size_t size, long long /*now*/) {
  const size_t text_length = strnlen(data, size);
  const std::string text(data, text_length);
  // Foreign text is an argument, never a format.
  Logger::Log("%s", text.c_str());
  eventPacket.SetText(text);
}

pp::VarDictionary EventLogic::GetExternalMessageToPlayerAfterLoadPacket() const {
  pp::VarDictionary message;
  message.Set("EVENT_TYPE", pp::Var(eventPacket.Text()));
  return message;
}

const PacketEvent* EventLogic::GetPacket(long long /*now*/) const {
  return debuggerMode ? &eventPacket : nullptr;
}

}  // namespace cuebell
