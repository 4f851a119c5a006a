#include "cuebell/nacl_instance.h"

#include "common/logger.h"
#include "common/utils.h"

namespace cuebell {

NaClInstance::NaClInstance(PP_Instance instance)
    : InstanceSkeleton(instance, CounterOnChange::kRestart) {}

NaClInstance::~NaClInstance() {
  Shutdown("NaClInstance of Cuebell is dead.");
}

bool NaClInstance::Init(uint32_t argc, const char* argn[], const char* argv[]) {
  InstanceSkeleton::Init(argc, argn, argv);
  Logger::Log("Cuebell version: %s", GetVersion().c_str());
  return true;
}

void NaClInstance::CloseSockets() {
  eventSender.Close();
  receiver.Close();
}

void NaClInstance::OnPageMessage(const pp::Var& message) {
  eventLogic.LoadMessage(message, GetCurentTick());
  SendPacketAfterLoadMessage();
}

void NaClInstance::SendPacketAfterLoadMessage() {
  const PacketEvent* packet = eventLogic.GetPacket(GetCurentTick());
  // Like the sync sender: a sender still setting up would send on an unbound
  // socket, and the failure would make it drop the socket it is setting up.
  if (!packet || !SenderReady()) return;
  eventSender.SendTo(packet->Text());
}

void NaClInstance::OnDatagram(const char* data, int32_t size) {
  eventLogic.LoadPacket(data, static_cast<size_t>(size), GetCurentTick());
  PostMessageIfNotEmpty(eventLogic.GetExternalMessageToPlayerAfterLoadPacket());
}

}  // namespace cuebell
