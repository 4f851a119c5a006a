// One embed of the event relay module: event datagrams become messages to the
// page, and once the page has switched sending on, each page message is
// followed by one datagram carrying the current event text.
#pragma once

#include <cstdint>
#include <string>

#include "common/instance_skeleton.h"
#include "cuebell/event_logic.h"

namespace cuebell {

class NaClInstance : public InstanceSkeleton {
 public:
  explicit NaClInstance(PP_Instance instance);
  ~NaClInstance() override;

  bool Init(uint32_t argc, const char* argn[], const char* argv[]) override;

 protected:
  void OnPageMessage(const pp::Var& message) override;
  void OnDatagram(const char* data, int32_t size) override;
  std::string ListenPort() override { return eventLogic.GetEventListenPort(); }
  std::string CastIpPort() override { return eventLogic.GetEventSendingIpPort(); }
  void CloseSockets() override;

 private:
  void SendPacketAfterLoadMessage();

  EventLogic eventLogic;
  UDPSender& eventSender = sender;
};

class NaClModule : public pp::Module {
 public:
  pp::Instance* CreateInstance(PP_Instance instance) override { return new NaClInstance(instance); }
};

}  // namespace cuebell
