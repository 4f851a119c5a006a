#include "pacewire/nacl_instance.h"

#include <cstdio>

#include "common/logger.h"

namespace pacewire {

NaClInstance::NaClInstance(PP_Instance instance)
    : InstanceSkeleton(instance, CounterOnChange::kKeepCounting),
      monitoringSender(this),
      monitoringCallbackFactory(this) {}

NaClInstance::~NaClInstance() {
  Shutdown("NaClInstance is dead.");
  monitoringCallbackFactory.CancelAll();
}

void NaClInstance::CloseSockets() {
  syncSender.Close();
  receiver.Close();
  monitoringSender.Close();
}

// ---- page messages ---------------------------------------------------------

void NaClInstance::OnPageMessage(const pp::Var& message) {
  playTimerLogic.LoadMessage(message, GetCurentTick());
  SendMessageToPlayerAfterLoadMessage();
  CastMonitoringPacketAfterLoadMessage();
}

void NaClInstance::SendMessageToPlayerAfterLoadMessage() {
  PostMessageIfNotEmpty(playTimerLogic.GetMessageToPlayerAfterLoadMessage());
}

void NaClInstance::SendMessageToPlayerIfNecessary() {
  PostMessageIfNotEmpty(playTimerLogic.GetMessageToPlayer());
}

void NaClInstance::SendMessageToPlayerAfterLoadPacket() {
  PostMessageIfNotEmpty(playTimerLogic.GetMessageToPlayerAfterLoadPacket());
}

// ---- tick ------------------------------------------------------------------

void NaClInstance::OnTickAfterUpkeep() {
  CastSyncPacketIfNecessary();
  CastMonitoringPacketIfNecessary();
  SendMessageToPlayerIfNecessary();
}

void NaClInstance::SendPacket(UDPSender& sender, bool ready, const Packet* packet) {
  if (packet && ready) {
    sender.SendTo(reinterpret_cast<const char*>(packet), packet->getSize());
  }
}

// The logic is asked for each packet whether or not it can be sent: handing
// it out has effects of its own there.
void NaClInstance::CastSyncPacketIfNecessary() {
  const Packet* packet = playTimerLogic.GetSyncPacket(GetCurentTick());
  SendPacket(syncSender, SenderReady(), packet);
}

void NaClInstance::CastMonitoringPacketIfNecessary() {
  const Packet* packet = playTimerLogic.GetMonitoringPacket(GetCurentTick());
  SendPacket(monitoringSender, MonitoringSenderReady(), packet);
}

void NaClInstance::CastMonitoringPacketAfterLoadMessage() {
  const Packet* packet = playTimerLogic.GetMonitoringPacketAfterLoadMessage(GetCurentTick());
  SendPacket(monitoringSender, MonitoringSenderReady(), packet);
}

bool NaClInstance::MonitoringSenderReady() {
  return monitoringSenderReady && monitoringSender.IsBound();
}

// ---- datagrams -------------------------------------------------------------

void NaClInstance::OnDatagram(const char* data, int32_t /*size*/) {
  playTimerLogic.LoadPacket(data, GetCurentTick());
  SendMessageToPlayerAfterLoadPacket();
  PrepareMonitoringPacketCasterIfNecessary();
}

void NaClInstance::PrepareMonitoringPacketCasterIfNecessary() {
  const std::string destination = playTimerLogic.GetMonitoringCastIpPort();
  if (destination == appliedMonitoringCastIpPort) return;
  if (monitoringSender.IsBound()) {
    monitoringRetryCount = 0;
    monitoringSender.Close();
    monitoringSenderReady = false;
    return;
  }
  ++monitoringRetryCount;
  if (monitoringRetryCount > kMonitoringRetryDatagrams) {
    appliedMonitoringCastIpPort = destination;
    if (destination != kNoMonitoringDestination) {
      // The destination passes through a 256-byte buffer: at most 255 characters.
      char buffer[256];
      std::snprintf(buffer, sizeof buffer, "%s", destination.c_str());
      ++monitoringSenderChain;
      monitoringSenderReady = false;
      monitoringSender.Create(
          buffer, monitoringCallbackFactory.NewCallback(&NaClInstance::DebugSenderCreateCallback,
                                                        monitoringSenderChain));
    }
  }
}

void NaClInstance::DebugSenderCreateCallback(int32_t result, uint64_t chain) {
  std::lock_guard<std::recursive_mutex> hold(instance_lock());
  if (result != PP_OK) {
    Logger::Error("Could not create udp socket(debugger).");
  } else if (chain == monitoringSenderChain) {
    monitoringSenderReady = true;
  }
}

}  // namespace pacewire
