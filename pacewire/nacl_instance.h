// One embed of the play-time module: hands page messages and datagrams to the
// play-time logic, sends its sync and monitoring packets, and posts what the
// logic has to say to the page.
#pragma once

#include <cstdint>
#include <string>

#include "common/instance_skeleton.h"
#include "pacewire/play_timer_logic.h"

namespace pacewire {

class NaClInstance : public InstanceSkeleton {
 public:
  explicit NaClInstance(PP_Instance instance);
  ~NaClInstance() override;

 protected:
  void OnPageMessage(const pp::Var& message) override;
  void OnTickAfterUpkeep() override;
  void OnDatagram(const char* data, int32_t size) override;
  std::string ListenPort() override { return playTimerLogic.GetSyncListenPort(); }
  std::string CastIpPort() override { return playTimerLogic.GetSyncCastIpPort(); }
  void CloseSockets() override;

 private:
  // A monitoring destination that stands for none: recorded, but no sender is made.
  static constexpr char kNoMonitoringDestination[] = ":";
  // A new monitoring destination is applied on the 30th datagram handled.
  static constexpr int32_t kMonitoringRetryDatagrams = 29;

  void SendMessageToPlayerAfterLoadMessage();
  void SendMessageToPlayerIfNecessary();
  void SendMessageToPlayerAfterLoadPacket();

  void CastSyncPacketIfNecessary();
  void CastMonitoringPacketIfNecessary();
  void CastMonitoringPacketAfterLoadMessage();
  void PrepareMonitoringPacketCasterIfNecessary();
  // `chain` numbers the Create it reports on; only the latest one counts.
  void DebugSenderCreateCallback(int32_t result, uint64_t chain);
  // True when `monitoringSender` has a socket whose set-up has finished.
  bool MonitoringSenderReady();
  // Sends `packet`, if there is one, through `sender` when `ready`.
  static void SendPacket(UDPSender& sender, bool ready, const Packet* packet);

  PlayTimerLogic playTimerLogic;
  UDPSender& syncSender = sender;
  UDPSender monitoringSender;
  int32_t monitoringRetryCount = 0;
  std::string appliedMonitoringCastIpPort;
  uint64_t monitoringSenderChain = 0;  // the latest Create of `monitoringSender`
  bool monitoringSenderReady = false;  // that Create's set-up has finished
  pp::CompletionCallbackFactory<NaClInstance> monitoringCallbackFactory;
};

class NaClModule : public pp::Module {
 public:
  pp::Instance* CreateInstance(PP_Instance instance) override { return new NaClInstance(instance); }
};

}  // namespace pacewire
