// Name resolution that never blocks a module thread: the system resolver runs
// on Asio's own resolver thread, and the result completes on the caller's loop.
//
// IPv4 results only, in the system's order; no result or an empty host name
// completes with PP_ERROR_NAME_NOT_RESOLVED. A second Resolve while one is
// under way is refused with PP_ERROR_INPROGRESS. Releasing the last reference
// cancels a pending resolution (it completes with PP_ERROR_ABORTED).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/backend.h"

namespace posix {

class Network;
class HostResolverCore;

class HostResolver final : public pp::HostResolverBackend {
 public:
  explicit HostResolver(Network& network);
  ~HostResolver() override;
  HostResolver(const HostResolver&) = delete;
  HostResolver& operator=(const HostResolver&) = delete;

  int32_t Resolve(const std::string& host, uint16_t port,
                  const pp::CompletionCallback& callback) override;
  // The addresses of the last resolution that completed with PP_OK.
  std::vector<pp::NetAddress> addresses() const override;

 private:
  std::shared_ptr<HostResolverCore> core_;
};

}  // namespace posix
