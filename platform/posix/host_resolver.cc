#include "platform/posix/host_resolver.h"

#include <asio/ip/udp.hpp>
#include <mutex>
#include <string>
#include <utility>

#include "platform/posix/network.h"
#include "platform/pp_errors.h"

namespace posix {

namespace {
using asio::ip::udp;
using Loop = std::shared_ptr<pp::LoopBackend>;
}  // namespace

// Shared by the handle and a resolution under way. `resolver_` is touched only
// on the network thread; the rest is guarded by `mutex_`.
class HostResolverCore : public std::enable_shared_from_this<HostResolverCore> {
 public:
  explicit HostResolverCore(Network& network) : network_(network), resolver_(network.io()) {}

  int32_t Resolve(const std::string& host, uint16_t port, const pp::CompletionCallback& callback);
  std::vector<pp::NetAddress> addresses() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return addresses_;
  }
  void Cancel();

 private:
  void Finish(const Loop& loop, const pp::CompletionCallback& callback, int32_t result,
              std::vector<pp::NetAddress> found);

  Network& network_;
  udp::resolver resolver_;
  mutable std::mutex mutex_;
  bool pending_ = false;
  bool cancelled_ = false;
  std::vector<pp::NetAddress> addresses_;
};

int32_t HostResolverCore::Resolve(const std::string& host, uint16_t port,
                                  const pp::CompletionCallback& callback) {
  Loop loop = CurrentLoop();
  if (!loop) return PP_ERROR_NO_MESSAGE_LOOP;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_) return PP_ERROR_FAILED;
    if (pending_) return PP_ERROR_INPROGRESS;
    pending_ = true;
  }
  if (host.empty()) {
    Finish(loop, callback, PP_ERROR_NAME_NOT_RESOLVED, {});
    return PP_OK_COMPLETIONPENDING;
  }
  network_.Run([self = shared_from_this(), host, port, loop, callback] {
    // No "address configured" flag: on a machine whose only IPv4 address is
    // the loopback one, it would make even "127.0.0.1" fail.
    self->resolver_.async_resolve(
        udp::v4(), host, std::to_string(port), udp::resolver::numeric_service,
        [self, port, loop, callback](const std::error_code& error,
                                     const udp::resolver::results_type& results) {
          std::vector<pp::NetAddress> found;
          if (!error) {
            for (const auto& entry : results) {
              const asio::ip::address address = entry.endpoint().address();
              if (address.is_v4()) {
                found.push_back(pp::NetAddress::FromHostOrder(address.to_v4().to_uint(), port));
              }
            }
          }
          int32_t result = PP_OK;
          if (error == asio::error::operation_aborted) {
            result = PP_ERROR_ABORTED;
          } else if (error || found.empty()) {
            result = PP_ERROR_NAME_NOT_RESOLVED;
          }
          self->Finish(loop, callback, result, std::move(found));
        });
  });
  return PP_OK_COMPLETIONPENDING;
}

void HostResolverCore::Finish(const Loop& loop, const pp::CompletionCallback& callback,
                              int32_t result, std::vector<pp::NetAddress> found) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ = false;
  }
  PostToLoop(loop, [self = shared_from_this(), callback, result, found = std::move(found)] {
    int32_t delivered = result;
    {
      std::lock_guard<std::mutex> lock(self->mutex_);
      if (self->cancelled_) {
        delivered = PP_ERROR_ABORTED;
      } else if (result == PP_OK) {
        self->addresses_ = found;
      }
    }
    callback.Run(delivered);
  });
}

void HostResolverCore::Cancel() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
  }
  network_.Run([self = shared_from_this()] { self->resolver_.cancel(); });
}

HostResolver::HostResolver(Network& network) : core_(std::make_shared<HostResolverCore>(network)) {}

HostResolver::~HostResolver() {
  core_->Cancel();
}

int32_t HostResolver::Resolve(const std::string& host, uint16_t port,
                              const pp::CompletionCallback& callback) {
  return core_->Resolve(host, port, callback);
}

std::vector<pp::NetAddress> HostResolver::addresses() const {
  return core_->addresses();
}

}  // namespace posix
