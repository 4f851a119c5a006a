#include "platform/posix/udp_socket.h"

#include <asio/ip/udp.hpp>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "platform/posix/error_mapping.h"
#include "platform/posix/network.h"
#include "platform/pp_errors.h"
#include "platform/udp_socket.h"

namespace posix {

// Options asked for so far; those given before Bind are applied when the
// kernel socket is made.
struct SocketOptions {
  bool reuse_address = false;
  std::optional<bool> broadcast;
  std::optional<int> send_buffer_size;
  std::optional<int> receive_buffer_size;
};

namespace {

using asio::ip::udp;
using Loop = std::shared_ptr<pp::LoopBackend>;

udp::endpoint ToEndpoint(const pp::NetAddress& address) {
  return udp::endpoint(asio::ip::address_v4(address.address_host_order()),
                       address.port_host_order());
}

pp::NetAddress ToNetAddress(const udp::endpoint& endpoint) {
  const asio::ip::address address = endpoint.address();
  return pp::NetAddress::FromHostOrder(address.is_v4() ? address.to_v4().to_uint() : 0,
                                       endpoint.port());
}

// PP_OK when `value` suits option `name`.
int32_t CheckOption(int32_t name, const pp::Var& value) {
  switch (name) {
    case PP_UDPSOCKET_OPTION_ADDRESS_REUSE:
    case PP_UDPSOCKET_OPTION_BROADCAST:
      return value.is_bool() ? PP_OK : PP_ERROR_BADARGUMENT;
    case PP_UDPSOCKET_OPTION_SEND_BUFFER_SIZE:
    case PP_UDPSOCKET_OPTION_RECV_BUFFER_SIZE:
      return value.is_int() && value.AsInt() > 0 ? PP_OK : PP_ERROR_BADARGUMENT;
    default:
      return PP_ERROR_BADARGUMENT;
  }
}

void Record(SocketOptions& options, int32_t name, const pp::Var& value) {
  switch (name) {
    case PP_UDPSOCKET_OPTION_ADDRESS_REUSE:
      options.reuse_address = value.AsBool();
      break;
    case PP_UDPSOCKET_OPTION_BROADCAST:
      options.broadcast = value.AsBool();
      break;
    case PP_UDPSOCKET_OPTION_SEND_BUFFER_SIZE:
      options.send_buffer_size = value.AsInt();
      break;
    case PP_UDPSOCKET_OPTION_RECV_BUFFER_SIZE:
      options.receive_buffer_size = value.AsInt();
      break;
    default:
      break;
  }
}

// Applies the options that may change on an open socket.
std::error_code Apply(udp::socket& socket, const SocketOptions& options) {
  std::error_code error;
  if (options.broadcast) socket.set_option(udp::socket::broadcast(*options.broadcast), error);
  if (!error && options.send_buffer_size) {
    socket.set_option(udp::socket::send_buffer_size(*options.send_buffer_size), error);
  }
  if (!error && options.receive_buffer_size) {
    socket.set_option(udp::socket::receive_buffer_size(*options.receive_buffer_size), error);
  }
  return error;
}

}  // namespace

// The socket proper, shared by its handle and by every operation under way,
// so that it outlives a handle released while an operation is pending.
// `socket_` is touched only on the network thread; everything else is guarded
// by `mutex_`.
class UDPSocketCore : public std::enable_shared_from_this<UDPSocketCore> {
 public:
  explicit UDPSocketCore(Network& network) : network_(network), socket_(network.io()) {}

  int32_t Bind(const pp::NetAddress& address, const pp::CompletionCallback& callback);
  int32_t SetOption(int32_t name, const pp::Var& value, const pp::CompletionCallback& callback);
  int32_t SendTo(const char* buffer, int32_t num_bytes, const pp::NetAddress& address,
                 const pp::CompletionCallback& callback);
  int32_t RecvFrom(char* buffer, int32_t num_bytes,
                   const pp::CompletionCallbackWithOutput<pp::NetAddress>& callback);
  void Close();
  pp::NetAddress bound_address() {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_ == State::kBound ? bound_address_ : pp::NetAddress();
  }

 private:
  enum class State { kUnbound, kBinding, kBound, kClosed };

  struct Receive {
    Loop loop;
    char* destination;
    std::vector<char> storage;  // the kernel writes here, on the network thread
    udp::endpoint source;
    pp::CompletionCallbackWithOutput<pp::NetAddress> callback;
  };

  // Network thread.
  void StartBind(const udp::endpoint& endpoint, const Loop& loop,
                 const pp::CompletionCallback& callback);
  void StartSend(const std::shared_ptr<std::vector<char>>& bytes, const udp::endpoint& endpoint,
                 const Loop& loop, const pp::CompletionCallback& callback);
  void StartReceive(const std::shared_ptr<Receive>& receive);
  void FinishReceive(const std::shared_ptr<Receive>& receive, int32_t result);

  // Runs `callback` on `loop` with `result`, or with PP_ERROR_ABORTED if the
  // socket has been closed by then.
  void Complete(const Loop& loop, const pp::CompletionCallback& callback, int32_t result);
  bool closed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_ == State::kClosed;
  }

  Network& network_;
  udp::socket socket_;
  std::mutex mutex_;
  State state_ = State::kUnbound;
  bool receive_pending_ = false;
  SocketOptions options_;
  pp::NetAddress bound_address_;
};

int32_t UDPSocketCore::Bind(const pp::NetAddress& address, const pp::CompletionCallback& callback) {
  Loop loop = CurrentLoop();
  if (!loop) return PP_ERROR_NO_MESSAGE_LOOP;
  if (address.is_null()) return PP_ERROR_BADARGUMENT;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == State::kBinding) return PP_ERROR_INPROGRESS;
    if (state_ != State::kUnbound) return PP_ERROR_FAILED;
    state_ = State::kBinding;
  }
  network_.Run([self = shared_from_this(), endpoint = ToEndpoint(address), loop, callback] {
    self->StartBind(endpoint, loop, callback);
  });
  return PP_OK_COMPLETIONPENDING;
}

void UDPSocketCore::StartBind(const udp::endpoint& endpoint, const Loop& loop,
                              const pp::CompletionCallback& callback) {
  SocketOptions options;
  bool closed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed = state_ == State::kClosed;
    options = options_;
  }
  std::error_code error;
  udp::endpoint local;
  if (!closed) {
    socket_.open(udp::v4(), error);
    if (!error && options.reuse_address)
      socket_.set_option(udp::socket::reuse_address(true), error);
    if (!error) error = Apply(socket_, options);
    if (!error) socket_.bind(endpoint, error);
    if (!error) local = socket_.local_endpoint(error);
    if (error) {
      std::error_code ignored;
      socket_.close(ignored);
    }
  }
  const int32_t result = closed ? PP_ERROR_ABORTED : ToPPError(error);
  // The socket counts as bound from the moment its owner learns it is, so
  // that what a caller may do next does not depend on thread timing.
  PostToLoop(loop, [self = shared_from_this(), callback, result, local] {
    int32_t delivered = result;
    {
      std::lock_guard<std::mutex> lock(self->mutex_);
      if (self->state_ == State::kClosed) {
        delivered = PP_ERROR_ABORTED;
      } else {
        self->state_ = result == PP_OK ? State::kBound : State::kUnbound;
        self->bound_address_ = ToNetAddress(local);
      }
    }
    callback.Run(delivered);
  });
}

int32_t UDPSocketCore::SetOption(int32_t name, const pp::Var& value,
                                 const pp::CompletionCallback& callback) {
  Loop loop = CurrentLoop();
  if (!loop) return PP_ERROR_NO_MESSAGE_LOOP;
  if (const int32_t check = CheckOption(name, value); check != PP_OK) return check;
  SocketOptions change;
  Record(change, name, value);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == State::kClosed) return PP_ERROR_FAILED;
    if (name == PP_UDPSOCKET_OPTION_ADDRESS_REUSE && state_ != State::kUnbound) {
      return PP_ERROR_FAILED;
    }
    Record(options_, name, value);
  }
  network_.Run([self = shared_from_this(), change, loop, callback] {
    // Not open yet: the bind applies it.
    const std::error_code error =
        self->socket_.is_open() ? Apply(self->socket_, change) : std::error_code();
    self->Complete(loop, callback, ToPPError(error));
  });
  return PP_OK_COMPLETIONPENDING;
}

int32_t UDPSocketCore::SendTo(const char* buffer, int32_t num_bytes, const pp::NetAddress& address,
                              const pp::CompletionCallback& callback) {
  Loop loop = CurrentLoop();
  if (!loop) return PP_ERROR_NO_MESSAGE_LOOP;
  if (num_bytes < 0 || (num_bytes > 0 && !buffer) || address.is_null()) {
    return PP_ERROR_BADARGUMENT;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ != State::kBound) return PP_ERROR_FAILED;
  }
  auto bytes = std::make_shared<std::vector<char>>(buffer, buffer + num_bytes);
  network_.Run([self = shared_from_this(), bytes, endpoint = ToEndpoint(address), loop, callback] {
    self->StartSend(bytes, endpoint, loop, callback);
  });
  return PP_OK_COMPLETIONPENDING;
}

void UDPSocketCore::StartSend(const std::shared_ptr<std::vector<char>>& bytes,
                              const udp::endpoint& endpoint, const Loop& loop,
                              const pp::CompletionCallback& callback) {
  if (!socket_.is_open()) {  // closed since the call
    Complete(loop, callback, PP_ERROR_ABORTED);
    return;
  }
  socket_.async_send_to(asio::buffer(*bytes), endpoint,
                        [self = shared_from_this(), bytes, loop, callback](
                            const std::error_code& error, std::size_t sent) {
                          self->Complete(loop, callback,
                                         error ? ToPPError(error) : static_cast<int32_t>(sent));
                        });
}

int32_t UDPSocketCore::RecvFrom(char* buffer, int32_t num_bytes,
                                const pp::CompletionCallbackWithOutput<pp::NetAddress>& callback) {
  Loop loop = CurrentLoop();
  if (!loop) return PP_ERROR_NO_MESSAGE_LOOP;
  if (!buffer || num_bytes <= 0) return PP_ERROR_BADARGUMENT;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ != State::kBound) return PP_ERROR_FAILED;
    if (receive_pending_) return PP_ERROR_INPROGRESS;
    receive_pending_ = true;
  }
  auto receive = std::make_shared<Receive>(
      Receive{loop, buffer, std::vector<char>(static_cast<size_t>(num_bytes)), {}, callback});
  network_.Run([self = shared_from_this(), receive] { self->StartReceive(receive); });
  return PP_OK_COMPLETIONPENDING;
}

void UDPSocketCore::StartReceive(const std::shared_ptr<Receive>& receive) {
  if (!socket_.is_open()) {  // closed since the call
    FinishReceive(receive, PP_ERROR_ABORTED);
    return;
  }
  socket_.async_receive_from(
      asio::buffer(receive->storage), receive->source,
      [self = shared_from_this(), receive](const std::error_code& error, std::size_t received) {
        if (error && IsLeftoverICMPError(error) && self->socket_.is_open()) {
          self->StartReceive(receive);
          return;
        }
        int32_t result;
        if (!error) {
          result = static_cast<int32_t>(received);
        } else if (IsTruncation(error)) {
          // Where the kernel reports truncation as an error: keep what fitted.
          result = static_cast<int32_t>(receive->storage.size());
        } else {
          result = ToPPError(error);
        }
        self->FinishReceive(receive, result);
      });
}

void UDPSocketCore::FinishReceive(const std::shared_ptr<Receive>& receive, int32_t result) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    receive_pending_ = false;
  }
  // The loop leaves the operation first: work queued on a loop must not own
  // that loop, or a loop that quits with it still queued would never be freed.
  const Loop loop = std::move(receive->loop);
  PostToLoop(loop, [self = shared_from_this(), receive, result] {
    int32_t delivered = result;
    {
      // Under the lock, so that a Close that has returned is never followed
      // by a write into the caller's buffer.
      std::lock_guard<std::mutex> lock(self->mutex_);
      if (self->state_ == State::kClosed) {
        delivered = PP_ERROR_ABORTED;
      } else if (result > 0) {
        std::memcpy(receive->destination, receive->storage.data(), static_cast<size_t>(result));
      }
    }
    if (delivered >= 0) {
      if (pp::NetAddress* source = receive->callback.output())
        *source = ToNetAddress(receive->source);
    }
    receive->callback.Run(delivered);
  });
}

void UDPSocketCore::Complete(const Loop& loop, const pp::CompletionCallback& callback,
                             int32_t result) {
  PostToLoop(loop, [self = shared_from_this(), callback, result] {
    callback.Run(self->closed() ? PP_ERROR_ABORTED : result);
  });
}

void UDPSocketCore::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == State::kClosed) return;
    state_ = State::kClosed;
    receive_pending_ = false;
  }
  // Pending operations end with operation_aborted, and complete as aborted.
  network_.Run([self = shared_from_this()] {
    std::error_code ignored;
    self->socket_.close(ignored);
  });
}

UDPSocket::UDPSocket(Network& network) : core_(std::make_shared<UDPSocketCore>(network)) {}

UDPSocket::~UDPSocket() {
  core_->Close();
}

int32_t UDPSocket::Bind(const pp::NetAddress& address, const pp::CompletionCallback& callback) {
  return core_->Bind(address, callback);
}

int32_t UDPSocket::SetOption(int32_t name, const pp::Var& value,
                             const pp::CompletionCallback& callback) {
  return core_->SetOption(name, value, callback);
}

int32_t UDPSocket::SendTo(const char* buffer, int32_t num_bytes, const pp::NetAddress& address,
                          const pp::CompletionCallback& callback) {
  return core_->SendTo(buffer, num_bytes, address, callback);
}

int32_t UDPSocket::RecvFrom(char* buffer, int32_t num_bytes,
                            const pp::CompletionCallbackWithOutput<pp::NetAddress>& callback) {
  return core_->RecvFrom(buffer, num_bytes, callback);
}

void UDPSocket::Close() {
  core_->Close();
}

pp::NetAddress UDPSocket::GetBoundAddress() const {
  return core_->bound_address();
}

}  // namespace posix
