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

void NaClInstance::SendPacket(UDPSender& sender, const Packet* packet) {
  if (packet && sender.IsBound()) {
    sender.SendTo(reinterpret_cast<const char*>(packet), packet->getSize());
  }
}

void NaClInstance::CastSyncPacketIfNecessary() {
  SendPacket(syncSender, playTimerLogic.GetSyncPacket(GetCurentTick()));
}

void NaClInstance::CastMonitoringPacketIfNecessary() {
  SendPacket(monitoringSender, playTimerLogic.GetMonitoringPacket(GetCurentTick()));
}

void NaClInstance::CastMonitoringPacketAfterLoadMessage() {
  SendPacket(monitoringSender, playTimerLogic.GetMonitoringPacketAfterLoadMessage(GetCurentTick()));
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
    return;
  }
  ++monitoringRetryCount;
  if (monitoringRetryCount > kMonitoringRetryDatagrams) {
    appliedMonitoringCastIpPort = destination;
    if (destination != kNoMonitoringDestination) {
      // The destination passes through a 256-byte buffer: at most 255 characters.
      char buffer[256];
      std::snprintf(buffer, sizeof buffer, "%s", destination.c_str());
      monitoringSender.Create(
          buffer, monitoringCallbackFactory.NewCallback(&NaClInstance::DebugSenderCreateCallback));
    }
  }
}

void NaClInstance::DebugSenderCreateCallback(int32_t result) {
  std::lock_guard<std::recursive_mutex> hold(instance_lock());
  if (result != PP_OK) Logger::Error("Could not create udp socket(debugger).");
}

}  // namespace pacewire
