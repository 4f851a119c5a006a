#include "common/instance_skeleton.h"

#include "common/logger.h"
#include "common/utils.h"

namespace {
const UpkeepLines kListenerLines = {"%s Receiver Socket will be closed.",
                                    "[INIT] Listen Port is set.", "Listen Port is changed."};
const UpkeepLines kCasterLines = {"%s Sender Socket will be closed.", "[INIT]",
                                  "IP Port is changed."};
}  // namespace

InstanceSkeleton::InstanceSkeleton(PP_Instance instance, CounterOnChange listener_counter_on_change)
    : pp::Instance(instance),
      receivingThread(this),
      mainThread(this),
      receiver(this),
      sender(this),
      listenerUpkeep(kListenerLines, listener_counter_on_change),
      casterUpkeep(kCasterLines, CounterOnChange::kRestart),
      callbackFactory(this) {}

InstanceSkeleton::~InstanceSkeleton() {
  // The derived destructor has called Shutdown; this guards against one that did not.
  callbackFactory.CancelAll();
  Logger::ForgetInstance(this);
}

bool InstanceSkeleton::Init(uint32_t, const char*[], const char*[]) {
  Logger::InitializeInstance(this);
  receivingThread.Start();
  mainThread.Start();
  RunMainThread();
  PostMessageToNaCl("VERSION", GetVersion());
  return true;
}

void InstanceSkeleton::HandleMessage(const pp::Var& message) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  OnPageMessage(message);
}

int64_t InstanceSkeleton::GetCurentTick() const {
  return pp::WallClockMicros(this) / 1000;
}

void InstanceSkeleton::Shutdown(const char* death_line) {
  {
    // Under the lock, so that a tick or datagram running on a worker thread
    // finishes before the death line and every later one stops at once.
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (shut_down_) return;
    shut_down_ = true;
    Logger::Error("%s", death_line);
  }
  // Not under the lock: a handler waiting for it must get it to see shut_down_.
  mainThread.Join();
  receivingThread.Join();
  {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    CloseSockets();
  }
  callbackFactory.CancelAll();
}

void InstanceSkeleton::PostMessageToNaCl(const std::string& key, const std::string& value) {
  pp::VarDictionary message;
  message.Set(key, pp::Var(value));
  PostMessage(message);
}

void InstanceSkeleton::PostMessageToNaCl(const pp::VarDictionary& message) {
  PostMessage(message);
}

void InstanceSkeleton::PostMessageIfNotEmpty(const pp::VarDictionary& message) {
  if (message.GetKeys().GetLength() != 0) PostMessageToNaCl(message);
}

// ---- tick loop -------------------------------------------------------------

void InstanceSkeleton::RunMainThread() {
  const pp::MessageLoop loop = mainThread.message_loop();
  if (loop.is_null()) {
    Logger::Error("mainThread message loop is null.");
    return;
  }
  const pp::CompletionCallback tick =
      callbackFactory.NewCallback(&InstanceSkeleton::RunMainThreadCallback);
  const int32_t result = loop.PostWork(tick, kTickDelayMs);
  if (result != PP_OK) {
    tick.Run(result);
    Logger::Error("mainThread PostWork return error %d.", result);
  }
}

void InstanceSkeleton::RunMainThreadCallback(int32_t result) {
  if (result != PP_OK) {
    Logger::Error("MainThread has unknown problem.");
    return;
  }
  {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (shut_down_) return;
    PrepareListener();
    PrepareSyncPacketCaster();
    OnTickAfterUpkeep();
  }
  RunMainThread();
}

void InstanceSkeleton::PrepareListener() {
  const std::string port = ListenPort();
  if (!listenerUpkeep.Tick(port, [this] { receiver.Close(); })) return;
  // A receiver whose bind failed holds a socket that will never receive: the
  // re-check makes it again, as it does a missing one.
  if (receiver.BindFailed()) receiver.Close();
  if (!receiver.IsBound()) {
    receiver.Create(port,
                    callbackFactory.NewCallbackWithOutput(&InstanceSkeleton::ListenPacketCallback));
  }
}

void InstanceSkeleton::PrepareSyncPacketCaster() {
  const std::string destination = CastIpPort();
  const bool recheck = casterUpkeep.Tick(destination, [this] {
    sender.Close();
    sender_ready_ = false;
  });
  if (recheck && !SenderReady()) {
    ++sender_chain_;
    sender_ready_ = false;
    sender.Create(destination, callbackFactory.NewCallback(&InstanceSkeleton::SenderCreateCallback,
                                                           sender_chain_));
  }
}

void InstanceSkeleton::SenderCreateCallback(int32_t result, uint64_t chain) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (shut_down_) return;
  if (result != PP_OK) {
    Logger::Error("Could not create udp socket. Fail to be parent.");
  } else {
    Logger::Debug("Start to broadcast playtime");
    if (chain == sender_chain_) sender_ready_ = true;
  }
}

bool InstanceSkeleton::SenderReady() {
  return sender_ready_ && sender.IsBound();
}

// ---- receive loop ----------------------------------------------------------

void InstanceSkeleton::ListenPacketCallback(int32_t result, char* const& data) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (shut_down_) return;
  // A receive of a socket replaced since (closed and made again by a tick
  // while this one was on its way) belongs to nobody now.
  if (receiver.IsStaleDelivery()) return;
  if (!IsValidStatusForListening(result)) return;
  OnDatagram(data, result);
  RunListenPacket();
}

bool InstanceSkeleton::IsValidStatusForListening(int32_t result) {
  if (result <= 0) {
    Logger::Error("NaClInstance: Client ReceiveFrom failed: %d", result);
    receiver.Close();
    return false;
  }
  if (receivingThread.message_loop().is_null()) {
    Logger::Log("receivingThread message loop is null");
    return false;
  }
  return true;
}

void InstanceSkeleton::RunListenPacket() {
  const pp::CompletionCallback listen =
      callbackFactory.NewCallback(&InstanceSkeleton::ListenPacket);
  const int32_t result = receivingThread.message_loop().PostWork(listen, 0);
  if (result != PP_OK) {
    listen.Run(result);
    Logger::Error("receivingThread PostWork return error %d.", result);
  }
}

void InstanceSkeleton::ListenPacket(int32_t) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (shut_down_) return;
  receiver.Receive(callbackFactory.NewCallbackWithOutput(&InstanceSkeleton::ListenPacketCallback));
}
