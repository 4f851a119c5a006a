#include "common/udp_receiver.h"

#include <algorithm>
#include <cstring>

#include "common/logger.h"
#include "common/utils.h"

UDPReceiver::UDPReceiver(pp::Instance* instance)
    : instance_handle_(instance), callback_factory_(this) {
  std::memset(receive_buffer_, 0, sizeof receive_buffer_);
}

UDPReceiver::~UDPReceiver() {
  // First no completion may reach this object any more; then the socket goes,
  // which guarantees that the platform writes nothing more into the buffer.
  callback_factory_.CancelAll();
  std::lock_guard<std::mutex> lock(mutex_);
  socket_ = pp::UDPSocket();
}

int UDPReceiver::Create(const std::string& port, pp::CompletionCallbackWithOutput<char*> callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!socket_.is_null()) {
    Logger::Warn("UDPReceiver: Already bound.");
    return 1;
  }
  socket_ = pp::UDPSocket(instance_handle_);
  ++generation_;
  receive_held_back_ = false;  // it was for the socket being replaced
  pending_ = Pending::kBind;
  bind_failed_ = false;
  receive_callback_ = std::move(callback);

  // atoi's reading, without its undefined behaviour on overflow; then the low 16 bits.
  const auto port_number = static_cast<unsigned short>(SaturatingAtoll(port));
  PP_NetAddress_IPv4 every_local_address;
  every_local_address.port = Htons(port_number);
  const pp::NetAddress address(instance_handle_, every_local_address);
  Logger::Log("UDPReceiver: Binding ...: " + address.DescribeAsString(true).AsString());

  const int32_t result = socket_.Bind(
      address, callback_factory_.NewCallback(&UDPReceiver::OnBindCompletion, generation_));
  if (result != PP_OK_COMPLETIONPENDING) {
    Logger::Error("UDPReceiver: Error binding listening socket.");
  }
  return result;
}

void UDPReceiver::OnBindCompletion(int32_t result, uint64_t generation) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Closed, or closed and made again, since this bind started.
  if (generation != generation_ || pending_ != Pending::kBind) return;
  pending_ = Pending::kNothing;
  if (result != PP_OK) {
    Logger::Error("UDPReceiver: Connection failed: %d", result);
    bind_failed_ = true;
    return;
  }
  std::memset(receive_buffer_, 0, sizeof receive_buffer_);
  Logger::Log("UDPReceiver: Successfully created.");
  StartReceiveLocked();
}

void UDPReceiver::Receive(pp::CompletionCallbackWithOutput<char*> callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!socket_.is_null() && pending_ != Pending::kNothing) return;
  if (DeliveryRunningElsewhereLocked()) {
    receive_held_back_ = true;
    held_back_callback_ = std::move(callback);
    return;
  }
  receive_callback_ = std::move(callback);
  std::memset(receive_buffer_, 0, sizeof receive_buffer_);
  StartReceiveLocked();
}

void UDPReceiver::StartReceiveLocked() {
  // Without a socket the platform refuses at once and still completes with
  // the error, which reaches the owner's callback like any other.
  const int32_t result = socket_.RecvFrom(
      receive_buffer_, kMaxDatagramBytes,
      callback_factory_.NewCallbackWithOutput(&UDPReceiver::OnReceiveFromCompletion, generation_));
  if (result == PP_OK_COMPLETIONPENDING && !socket_.is_null()) pending_ = Pending::kReceive;
}

void UDPReceiver::OnReceiveFromCompletion(int32_t result, const pp::NetAddress&,
                                          uint64_t generation) {
  pp::CompletionCallbackWithOutput<char*> callback;
  const std::thread::id thread = std::this_thread::get_id();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (generation != generation_) return;  // a newer socket has been made since
    if (pending_ == Pending::kReceive) pending_ = Pending::kNothing;
    if (result >= 1) {
      if (char** output = receive_callback_.output()) *output = receive_buffer_;
    }
    callback = receive_callback_;
    deliveries_.emplace_back(thread, generation);
  }
  callback.Run(result);
  std::lock_guard<std::mutex> lock(mutex_);
  const auto mine = std::find_if(deliveries_.rbegin(), deliveries_.rend(),
                                 [&](const auto& delivery) { return delivery.first == thread; });
  if (mine != deliveries_.rend()) deliveries_.erase(std::next(mine).base());
  if (receive_held_back_ && !DeliveryRunningElsewhereLocked()) {
    receive_held_back_ = false;
    if (socket_.is_null() || pending_ == Pending::kNothing) {
      receive_callback_ = std::move(held_back_callback_);
      std::memset(receive_buffer_, 0, sizeof receive_buffer_);
      StartReceiveLocked();
    }
  }
}

bool UDPReceiver::DeliveryRunningElsewhereLocked() const {
  const std::thread::id thread = std::this_thread::get_id();
  return std::any_of(deliveries_.begin(), deliveries_.end(), [&](const auto& delivery) {
    return delivery.first != thread && delivery.second == generation_;
  });
}

bool UDPReceiver::IsStaleDelivery() {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::thread::id thread = std::this_thread::get_id();
  const auto mine = std::find_if(deliveries_.rbegin(), deliveries_.rend(),
                                 [&](const auto& delivery) { return delivery.first == thread; });
  return mine != deliveries_.rend() && mine->second != generation_;
}

bool UDPReceiver::IsBound() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !socket_.is_null();
}

bool UDPReceiver::BindFailed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !socket_.is_null() && bind_failed_;
}

void UDPReceiver::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (socket_.is_null()) {
    Logger::Error("UDPReceiver: Not bound. No need to close.");
    return;
  }
  // The pending receive, if any, completes with an error that still reaches
  // the owner's callback, unless a newer socket is made before it arrives.
  socket_.Close();
  socket_ = pp::UDPSocket();
  pending_ = Pending::kNothing;
  receive_held_back_ = false;
  Logger::Log("UDPReceiver: Closed connection.");
}
