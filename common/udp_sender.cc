#include "common/udp_sender.h"

#include <cstdio>

#include "common/logger.h"
#include "common/utils.h"

namespace {
// The destination port when the host-and-port text has no colon.
constexpr int kPort = 80;
constexpr size_t kConnectionFailedBufferSize = 1024;
}  // namespace

UDPSender::UDPSender(pp::Instance* instance)
    : instance_handle_(instance), callback_factory_(this) {}

UDPSender::~UDPSender() {
  callback_factory_.CancelAll();
  std::lock_guard<std::mutex> lock(mutex_);
  socket_ = pp::UDPSocket();
  resolver_ = pp::HostResolver();
}

void UDPSender::Create(const std::string& host_and_port, pp::CompletionCallback callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++generation_;
  send_in_flight_ = false;
  socket_ = pp::UDPSocket(instance_handle_);
  if (socket_.is_null()) {
    Logger::Error("UDPSender: Error creating UDPSocket.");
    return;
  }
  resolver_ = pp::HostResolver(instance_handle_);
  if (resolver_.is_null()) {
    Logger::Error("UDPSender: Error creating HostResolver.");
    return;
  }
  create_callback_ = std::move(callback);

  int port = 0;
  std::string host;
  ParseHost(host_and_port, kPort, port, host);
  PP_HostResolver_Hint hint;
  hint.family = PP_NETADDRESS_FAMILY_UNSPECIFIED;
  hint.flags = 0;
  resolver_.Resolve(host.c_str(), static_cast<uint16_t>(port), hint,
                    callback_factory_.NewCallback(&UDPSender::OnResolveCompletion, generation_));
  Logger::Log("UDPSender: Resolving ... host name: %s, port: %d %d", host.c_str(), port,
              static_cast<int>(hint.family));
}

void UDPSender::OnResolveCompletion(int32_t result, uint64_t generation) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (generation != generation_) return;
  if (result != PP_OK) {
    Logger::Error("UDPSender: Resolve failed. %d", result);
    return;
  }
  destination_ = resolver_.GetNetAddress(0);
  Logger::Log("UDPSender: Resolved: " + destination_.DescribeAsString(true).AsString());
  Logger::Log(std::string("UDPSender: Binding ..."));
  const PP_NetAddress_IPv4 every_local_address_any_port;
  socket_.Bind(pp::NetAddress(instance_handle_, every_local_address_any_port),
               callback_factory_.NewCallback(&UDPSender::OnBindCompletion, generation_));
}

void UDPSender::OnBindCompletion(int32_t result, uint64_t generation) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (generation != generation_) return;
  if (result == PP_OK) {
    socket_.SetOption(PP_UDPSOCKET_OPTION_BROADCAST, pp::Var(true),
                      callback_factory_.NewCallback(&UDPSender::OnSetBroadcastOption, generation_));
    return;
  }
  const char* name = result == PP_ERROR_BADRESOURCE ? "PP_ERROR_BADRESOURCE" : "";
  char text[kConnectionFailedBufferSize];
  std::snprintf(text, sizeof text, "UDPSender: Connection failed: %d(%s)", result, name);
  Logger::Error(std::string(text));
}

void UDPSender::OnSetBroadcastOption(int32_t result, uint64_t generation) {
  pp::CompletionCallback created;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (generation != generation_) return;
    if (result != PP_OK) {
      Logger::Error("UDPSender: Set Option failed: %d", result);
      return;
    }
    created = create_callback_;
  }
  // The owner's lines come first, then ours.
  created.Run(PP_OK);
  Logger::Log("UDPSender: Successfully created and set to broadcast.");
}

void UDPSender::SendTo(const char* data, int size) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (socket_.is_null()) {
    Logger::Error("UDPSender: Not bound. Cannot send.");
    return;
  }
  if (send_in_flight_) return;  // dropped: one datagram in flight at most
  const int32_t result =
      socket_.SendTo(data, size, destination_,
                     callback_factory_.NewCallback(&UDPSender::OnSendToCompletion, generation_));
  if (result == PP_OK_COMPLETIONPENDING) {
    send_in_flight_ = true;
  } else if (result < 0) {
    Logger::Error("UDPSender: Send returned error: %d", result);
  }
}

void UDPSender::SendTo(const std::string& data) {
  SendTo(data.data(), static_cast<int>(data.size()));
}

void UDPSender::OnSendToCompletion(int32_t result, uint64_t generation) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (generation != generation_) return;
  switch (result) {
    case PP_ERROR_ADDRESS_UNREACHABLE:
      Logger::Error("UDPSender: Send failed with: PP_ERROR_ADDRESS_UNREACHABLE");
      DropSocketLocked();
      break;
    case PP_ERROR_FAILED:
      Logger::Error("UDPSender: Send failed with: PP_ERROR_FAILED (unspecific)");
      DropSocketLocked();
      break;
    case PP_ERROR_BADARGUMENT:
      Logger::Error("UDPSender: Send failed with: PP_ERROR_BADARGUMENT");
      break;
    case PP_ERROR_BADRESOURCE:
      break;
    default:
      if (result < 0) Logger::Error("UDPSender: Send failed with: %d", result);
      break;
  }
  send_in_flight_ = false;
}

bool UDPSender::IsBound() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !socket_.is_null();
}

void UDPSender::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (socket_.is_null()) {
    Logger::Error("UDPSender: Not bound. No need to close.");
    return;
  }
  DropSocketLocked();
  Logger::Log("UDPSender: Closed connection.");
}

void UDPSender::DropSocketLocked() {
  socket_.Close();
  socket_ = pp::UDPSocket();
  ++generation_;
  send_in_flight_ = false;
}
