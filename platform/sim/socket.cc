#include "platform/sim/socket.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/pp_errors.h"
#include "platform/sim/address.h"
#include "platform/sim/host.h"
#include "platform/sim/lan.h"
#include "platform/sim/loop.h"
#include "platform/udp_socket.h"

namespace sim {

SimSocket::SimSocket(Lan& lan, Host& host) : lan_(lan), host_(host) {}

SimSocket::~SimSocket() {
  if (bound_) host_.ReleasePort(port_, this);
  // Releasing the last reference aborts a receive still waiting for data.
  if (pending_receive_ && !pending_receive_->completion_queued && !lan_.tearing_down()) {
    lan_.scheduler().After(0, [pending = std::move(*pending_receive_)] {
      pending.loop->RunAsWork([&] { pending.callback.Run(PP_ERROR_ABORTED); });
    });
  }
}

std::string SimSocket::BoundText() const {
  return FormatEndpoint(bound_address_, port_);
}

void SimSocket::Complete(const std::shared_ptr<SimLoop>& loop,
                         const pp::CompletionCallback& callback, int32_t result) {
  loop->Queue(0, [self = shared_from_this(), callback, result] {
    callback.Run(self->closed_ ? PP_ERROR_ABORTED : result);
  });
}

int32_t SimSocket::Bind(const pp::NetAddress& address, const pp::CompletionCallback& callback) {
  auto loop = SimLoop::CurrentOn(lan_);
  if (!loop) return PP_ERROR_NO_MESSAGE_LOOP;
  if (closed_) return PP_ERROR_FAILED;
  if (address.is_null()) return PP_ERROR_BADARGUMENT;
  const uint32_t wanted_address = address.address_host_order();
  const uint16_t wanted_port = address.port_host_order();
  int32_t result = PP_ERROR_FAILED;  // bound already
  if (!bound_) {
    result = host_.faults().bind.CheckLazily(
        [&] { return FormatEndpoint(wanted_address, wanted_port); });
    if (result == PP_OK) result = host_.BindPort(this, wanted_address, wanted_port, &port_);
    if (result == PP_OK) {
      bound_ = true;
      bound_address_ = wanted_address;
    }
  }
  Complete(loop, callback, result);
  return PP_OK_COMPLETIONPENDING;
}

int32_t SimSocket::SetOption(int32_t name, const pp::Var& value,
                             const pp::CompletionCallback& callback) {
  auto loop = SimLoop::CurrentOn(lan_);
  if (!loop) return PP_ERROR_NO_MESSAGE_LOOP;
  if (closed_) return PP_ERROR_FAILED;
  int32_t result = host_.faults().set_option.CheckLazily([&] { return std::to_string(name); });
  if (result == PP_OK) {
    switch (name) {
      case PP_UDPSOCKET_OPTION_BROADCAST:
        if (value.is_bool()) {
          broadcast_ = value.AsBool();
        } else {
          result = PP_ERROR_BADARGUMENT;
        }
        break;
      case PP_UDPSOCKET_OPTION_SEND_BUFFER_SIZE:
      case PP_UDPSOCKET_OPTION_RECV_BUFFER_SIZE:
        // Accepted and without effect: the receive queue has its own limit.
        if (!value.is_int() || value.AsInt() <= 0) result = PP_ERROR_BADARGUMENT;
        break;
      case PP_UDPSOCKET_OPTION_ADDRESS_REUSE:
        result = PP_ERROR_NOTSUPPORTED;
        break;
      default:
        result = PP_ERROR_BADARGUMENT;
    }
  }
  Complete(loop, callback, result);
  return PP_OK_COMPLETIONPENDING;
}

int32_t SimSocket::SendTo(const char* buffer, int32_t num_bytes, const pp::NetAddress& address,
                          const pp::CompletionCallback& callback) {
  auto loop = SimLoop::CurrentOn(lan_);
  if (!loop) return PP_ERROR_NO_MESSAGE_LOOP;
  if (closed_) return PP_ERROR_FAILED;
  if (num_bytes < 0 || (!buffer && num_bytes > 0)) return PP_ERROR_BADARGUMENT;
  const uint32_t to = address.is_null() ? 0 : address.address_host_order();
  const uint16_t to_port = address.is_null() ? 0 : address.port_host_order();
  auto destination = [&] { return address.is_null() ? "null" : FormatEndpoint(to, to_port); };
  const int32_t refusal = host_.faults().send_immediate.CheckLazily(destination);
  if (refusal != PP_OK) return refusal;

  int32_t result;
  if (address.is_null()) {
    result = PP_ERROR_BADARGUMENT;
  } else if (!bound_) {
    result = PP_ERROR_FAILED;
  } else if (num_bytes > kMaxDatagramBytes) {
    result = PP_ERROR_MESSAGE_TOO_BIG;
  } else if (to_port == 0) {
    result = PP_ERROR_ADDRESS_INVALID;
  } else {
    result = lan_.network().CheckRoute(host_, to, broadcast_);
    if (result == PP_OK) result = host_.faults().send_completion.CheckLazily(destination);
    if (result == PP_OK) {
      lan_.network().Send(
          host_, port_, to, to_port,
          std::make_shared<const std::string>(buffer, static_cast<size_t>(num_bytes)));
      result = num_bytes;
    }
  }
  Complete(loop, callback, result);
  return PP_OK_COMPLETIONPENDING;
}

int32_t SimSocket::RecvFrom(char* buffer, int32_t num_bytes,
                            const pp::CompletionCallbackWithOutput<pp::NetAddress>& callback) {
  auto loop = SimLoop::CurrentOn(lan_);
  if (!loop) return PP_ERROR_NO_MESSAGE_LOOP;
  if (closed_) return PP_ERROR_FAILED;
  if (!buffer || num_bytes <= 0) return PP_ERROR_BADARGUMENT;
  if (pending_receive_) return PP_ERROR_INPROGRESS;
  pending_receive_ =
      PendingReceive{buffer, num_bytes, callback, std::move(loop), false, std::nullopt, PP_OK};
  if (!bound_) {
    CompleteReceive(std::nullopt, PP_ERROR_FAILED);
  } else if (const int32_t refusal =
                 host_.faults().receive.CheckLazily([this] { return BoundText(); });
             refusal != PP_OK) {
    CompleteReceive(std::nullopt, refusal);
  } else if (!queue_.empty()) {
    Datagram datagram = std::move(queue_.front());
    queue_.pop_front();
    CompleteReceive(std::move(datagram), PP_OK);
  }
  return PP_OK_COMPLETIONPENDING;
}

void SimSocket::CompleteReceive(std::optional<Datagram> datagram, int32_t error) {
  pending_receive_->completion_queued = true;
  pending_receive_->datagram = std::move(datagram);
  pending_receive_->error = error;
  // A scheduler action rather than loop work, so that the pending receive is
  // over even when its loop has quit and drops the completion. The action
  // holds only the socket, which keeps it within std::function's own storage.
  lan_.scheduler().After(0, [self = shared_from_this()] { self->FinishReceive(); });
}

void SimSocket::FinishReceive() {
  PendingReceive pending = std::move(*pending_receive_);
  pending_receive_.reset();
  pending.loop->RunAsWork([&] {
    if (closed_) {
      pending.callback.Run(PP_ERROR_ABORTED);
    } else if (!pending.datagram) {
      pending.callback.Run(pending.error);
    } else {
      const std::string& bytes = *pending.datagram->bytes;
      const auto count = static_cast<int32_t>(
          std::min<size_t>(bytes.size(), static_cast<size_t>(pending.capacity)));
      if (count > 0) std::memcpy(pending.buffer, bytes.data(), static_cast<size_t>(count));
      if (auto* source = pending.callback.output()) {
        *source = pp::NetAddress::FromHostOrder(pending.datagram->from_address,
                                                pending.datagram->from_port);
      }
      pending.callback.Run(count);
    }
  });
}

bool SimSocket::Receive(const Datagram& datagram) {
  if (closed_) return false;
  if (pending_receive_ && !pending_receive_->completion_queued) {
    CompleteReceive(datagram, PP_OK);
    return true;
  }
  if (queue_.size() >= lan_.options().receive_queue_datagrams) return false;
  queue_.push_back(datagram);
  return true;
}

void SimSocket::Close() {
  if (closed_) return;
  closed_ = true;
  if (bound_) host_.ReleasePort(port_, this);
  bound_ = false;
  queue_.clear();
  if (pending_receive_ && !pending_receive_->completion_queued) {
    CompleteReceive(std::nullopt, PP_ERROR_ABORTED);
  }
}

pp::NetAddress SimSocket::GetBoundAddress() const {
  if (!bound_) return pp::NetAddress();
  return pp::NetAddress::FromHostOrder(bound_address_, port_);
}

}  // namespace sim
