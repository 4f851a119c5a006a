// Backend-neutral parts of the platform interface: the thin pp:: wrappers that
// forward to the instance's Embedding, network addresses and result names.
#include <cstdio>
#include <cstring>

#include "platform/pp.h"

namespace pp {

const char* ResultName(int32_t result) {
  switch (result) {
    case PP_OK: return "PP_OK";
    case PP_OK_COMPLETIONPENDING: return "PP_OK_COMPLETIONPENDING";
    case PP_ERROR_FAILED: return "PP_ERROR_FAILED";
    case PP_ERROR_ABORTED: return "PP_ERROR_ABORTED";
    case PP_ERROR_BADARGUMENT: return "PP_ERROR_BADARGUMENT";
    case PP_ERROR_BADRESOURCE: return "PP_ERROR_BADRESOURCE";
    case PP_ERROR_NOACCESS: return "PP_ERROR_NOACCESS";
    case PP_ERROR_NOMEMORY: return "PP_ERROR_NOMEMORY";
    case PP_ERROR_INPROGRESS: return "PP_ERROR_INPROGRESS";
    case PP_ERROR_NOTSUPPORTED: return "PP_ERROR_NOTSUPPORTED";
    case PP_ERROR_NO_MESSAGE_LOOP: return "PP_ERROR_NO_MESSAGE_LOOP";
    case PP_ERROR_WRONG_THREAD: return "PP_ERROR_WRONG_THREAD";
    case PP_ERROR_CONNECTION_REFUSED: return "PP_ERROR_CONNECTION_REFUSED";
    case PP_ERROR_ADDRESS_INVALID: return "PP_ERROR_ADDRESS_INVALID";
    case PP_ERROR_ADDRESS_UNREACHABLE: return "PP_ERROR_ADDRESS_UNREACHABLE";
    case PP_ERROR_ADDRESS_IN_USE: return "PP_ERROR_ADDRESS_IN_USE";
    case PP_ERROR_MESSAGE_TOO_BIG: return "PP_ERROR_MESSAGE_TOO_BIG";
    case PP_ERROR_NAME_NOT_RESOLVED: return "PP_ERROR_NAME_NOT_RESOLVED";
    default: return result > 0 ? "bytes" : "PP_ERROR_?";
  }
}

namespace internal {
namespace {
thread_local LoopBackend* current_loop = nullptr;
}  // namespace
LoopBackend* CurrentLoop() { return current_loop; }
void SetCurrentLoop(LoopBackend* loop) { current_loop = loop; }
}  // namespace internal

// ---- instances -------------------------------------------------------------

InstanceHandle::InstanceHandle(const Instance* instance)
    : instance_(instance ? instance->pp_instance() : nullptr) {}

bool Instance::Init(uint32_t, const char*[], const char*[]) { return true; }
void Instance::HandleMessage(const Var&) {}

void Instance::PostMessage(const Var& message) {
  if (instance_) instance_->PostMessage(message);
}

int64_t WallClockMicros(const InstanceHandle& instance) {
  return instance.embedding() ? instance.embedding()->WallClockMicros() : 0;
}

// ---- loops and threads -----------------------------------------------------

MessageLoop MessageLoop::GetCurrent() {
  LoopBackend* loop = internal::CurrentLoop();
  return loop ? MessageLoop(loop->shared_from_this()) : MessageLoop();
}

int32_t MessageLoop::PostWork(const CompletionCallback& callback, int64_t delay_ms) const {
  if (!loop_) return PP_ERROR_BADRESOURCE;
  if (delay_ms < 0) return PP_ERROR_BADARGUMENT;
  return loop_->PostWork(callback, delay_ms);
}

void MessageLoop::PostQuit() const {
  if (loop_) loop_->PostQuit();
}

std::string MessageLoop::name() const { return loop_ ? loop_->name() : "null"; }

SimpleThread::SimpleThread(const InstanceHandle& instance)
    : thread_(instance.embedding() ? instance.embedding()->CreateWorkerThread() : nullptr) {}

SimpleThread::~SimpleThread() { Join(); }

bool SimpleThread::Start() { return thread_ && thread_->loop() && thread_->Start(); }

void SimpleThread::Join() {
  if (thread_) thread_->QuitAndJoin();
}

MessageLoop SimpleThread::message_loop() const {
  return thread_ ? MessageLoop(thread_->loop()) : MessageLoop();
}

// ---- sockets and resolution ------------------------------------------------

namespace {
// An operation on a null resource is refused at once, and its completion still
// runs with the same code on the caller's loop, so that owners who wait for the
// completion learn of the failure too.
int32_t RefuseOnNullResource(const CompletionCallback& callback) {
  MessageLoop loop = MessageLoop::GetCurrent();
  if (!loop.is_null()) {
    loop.PostWork(CompletionCallback([callback](int32_t) { callback.Run(PP_ERROR_BADRESOURCE); }));
  }
  return PP_ERROR_BADRESOURCE;
}
}  // namespace

UDPSocket::UDPSocket(const InstanceHandle& instance)
    : socket_(instance.embedding() ? instance.embedding()->CreateUDPSocket() : nullptr) {}

int32_t UDPSocket::Bind(const NetAddress& address, const CompletionCallback& callback) {
  if (!socket_) return RefuseOnNullResource(callback);
  return socket_->Bind(address, callback);
}

int32_t UDPSocket::SetOption(PP_UDPSocket_Option name, const Var& value,
                             const CompletionCallback& callback) {
  if (!socket_) return RefuseOnNullResource(callback);
  return socket_->SetOption(name, value, callback);
}

int32_t UDPSocket::SendTo(const char* buffer, int32_t num_bytes, const NetAddress& address,
                          const CompletionCallback& callback) {
  if (!socket_) return RefuseOnNullResource(callback);
  return socket_->SendTo(buffer, num_bytes, address, callback);
}

int32_t UDPSocket::RecvFrom(char* buffer, int32_t num_bytes,
                            const CompletionCallbackWithOutput<NetAddress>& callback) {
  if (!socket_) {
    return RefuseOnNullResource(
        CompletionCallback([callback](int32_t result) { callback.Run(result); }));
  }
  return socket_->RecvFrom(buffer, num_bytes, callback);
}

void UDPSocket::Close() {
  if (socket_) socket_->Close();
}

NetAddress UDPSocket::GetBoundAddress() const {
  return socket_ ? socket_->GetBoundAddress() : NetAddress();
}

HostResolver::HostResolver(const InstanceHandle& instance)
    : resolver_(instance.embedding() ? instance.embedding()->CreateHostResolver() : nullptr) {}

int32_t HostResolver::Resolve(const char* host, uint16_t port, const PP_HostResolver_Hint&,
                              const CompletionCallback& callback) {
  if (!resolver_) return RefuseOnNullResource(callback);
  return resolver_->Resolve(host ? host : "", port, callback);
}

uint32_t HostResolver::GetNetAddressCount() const {
  return resolver_ ? static_cast<uint32_t>(resolver_->addresses().size()) : 0;
}

NetAddress HostResolver::GetNetAddress(uint32_t index) const {
  if (!resolver_) return NetAddress();
  auto addresses = resolver_->addresses();
  return index < addresses.size() ? addresses[index] : NetAddress();
}

// ---- addresses -------------------------------------------------------------

NetAddress::NetAddress(const InstanceHandle&, const PP_NetAddress_IPv4& ipv4)
    : null_(false), ipv4_(ipv4) {}

NetAddress NetAddress::FromHostOrder(uint32_t address, uint16_t port) {
  PP_NetAddress_IPv4 ipv4;
  ipv4.addr[0] = static_cast<uint8_t>(address >> 24);
  ipv4.addr[1] = static_cast<uint8_t>(address >> 16);
  ipv4.addr[2] = static_cast<uint8_t>(address >> 8);
  ipv4.addr[3] = static_cast<uint8_t>(address);
  const uint8_t port_bytes[2] = {static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port)};
  static_assert(sizeof ipv4.port == sizeof port_bytes);
  std::memcpy(&ipv4.port, port_bytes, sizeof port_bytes);
  return NetAddress(InstanceHandle(static_cast<PP_Instance>(nullptr)), ipv4);
}

uint32_t NetAddress::address_host_order() const {
  return (uint32_t{ipv4_.addr[0]} << 24) | (uint32_t{ipv4_.addr[1]} << 16) |
         (uint32_t{ipv4_.addr[2]} << 8) | uint32_t{ipv4_.addr[3]};
}

uint16_t NetAddress::port_host_order() const {
  uint8_t port_bytes[2];
  std::memcpy(port_bytes, &ipv4_.port, sizeof port_bytes);
  return static_cast<uint16_t>((port_bytes[0] << 8) | port_bytes[1]);
}

bool NetAddress::DescribeAsIPv4Address(PP_NetAddress_IPv4* out) const {
  if (null_ || !out) return false;
  *out = ipv4_;
  return true;
}

Var NetAddress::DescribeAsString(bool include_port) const {
  if (null_) return Var();
  char text[32];
  if (include_port) {
    std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", ipv4_.addr[0], ipv4_.addr[1], ipv4_.addr[2],
                  ipv4_.addr[3], port_host_order());
  } else {
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", ipv4_.addr[0], ipv4_.addr[1], ipv4_.addr[2],
                  ipv4_.addr[3]);
  }
  return Var(text);
}

bool operator==(const NetAddress& a, const NetAddress& b) {
  if (a.null_ || b.null_) return a.null_ == b.null_;
  return a.address_host_order() == b.address_host_order() &&
         a.port_host_order() == b.port_host_order();
}

}  // namespace pp
