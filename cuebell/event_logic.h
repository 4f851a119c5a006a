// The state of the event relay: the current event text, the port it listens on,
// the destination it sends to, and whether sending is switched on.
#pragma once

#include <cstddef>
#include <string>

#include "cuebell/packet_event.h"
#include "platform/var.h"

namespace cuebell {

class EventLogic {
 public:
  static constexpr char kDefaultListenPort[] = "55555";
  static constexpr char kDefaultSendingIpPort[] = "255.255.255.255:55555";

  EventLogic();
  virtual ~EventLogic();

  // Applies one page message ({"key": command, "value": text}).
  void LoadMessage(pp::Var message, long long now);
  // Takes the bytes of one received datagram: its text is read up to the first
  // zero byte or its end, and at most 255 bytes are kept.
  void LoadPacket(const char* data, size_t size, long long now);

  // {"EVENT_TYPE": current event text}, built anew on each call.
  pp::VarDictionary GetExternalMessageToPlayerAfterLoadPacket() const;
  // The event packet once "DEBUGGER" has switched sending on; null before.
  const PacketEvent* GetPacket(long long now) const;

  std::string GetEventListenPort() const { return eventListenPort; }
  std::string GetEventSendingIpPort() const { return eventSendingIpPort; }
  bool IsDebuggerMode() const { return debuggerMode; }

 private:
  PacketEvent eventPacket;
  std::string eventListenPort = kDefaultListenPort;
  std::string eventSendingIpPort = kDefaultSendingIpPort;
  bool debuggerMode = false;
};

}  // namespace cuebell
