// UDP sockets and host name resolution.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/completion_callback.h"
#include "platform/instance.h"
#include "platform/net_address.h"

enum PP_UDPSocket_Option {
  PP_UDPSOCKET_OPTION_ADDRESS_REUSE = 0,
  PP_UDPSOCKET_OPTION_BROADCAST = 1,
  PP_UDPSOCKET_OPTION_SEND_BUFFER_SIZE = 2,
  PP_UDPSOCKET_OPTION_RECV_BUFFER_SIZE = 3,
};

struct PP_HostResolver_Hint {
  PP_NetAddress_Family family = PP_NETADDRESS_FAMILY_UNSPECIFIED;
  int32_t flags = 0;
};

namespace pp {

// A UDP socket. Null when the platform refused to make one; every operation on
// a null socket fails with PP_ERROR_BADRESOURCE through its completion.
class UDPSocket {
 public:
  UDPSocket() = default;  // null
  explicit UDPSocket(const InstanceHandle& instance);

  bool is_null() const { return !socket_; }
  int32_t Bind(const NetAddress& address, const CompletionCallback& callback);
  int32_t SetOption(PP_UDPSocket_Option name, const Var& value, const CompletionCallback& callback);
  int32_t SendTo(const char* buffer, int32_t num_bytes, const NetAddress& address,
                 const CompletionCallback& callback);
  int32_t RecvFrom(char* buffer, int32_t num_bytes,
                   const CompletionCallbackWithOutput<NetAddress>& callback);
  void Close();
  // The bound address, with the port the platform picked for port 0; null
  // while unbound, after Close and on a null socket.
  NetAddress GetBoundAddress() const;

 private:
  std::shared_ptr<UDPSocketBackend> socket_;
};

class HostResolver {
 public:
  HostResolver() = default;  // null
  explicit HostResolver(const InstanceHandle& instance);

  bool is_null() const { return !resolver_; }
  int32_t Resolve(const char* host, uint16_t port, const PP_HostResolver_Hint& hint,
                  const CompletionCallback& callback);
  uint32_t GetNetAddressCount() const;
  NetAddress GetNetAddress(uint32_t index) const;  // null past the end

 private:
  std::shared_ptr<HostResolverBackend> resolver_;
};

}  // namespace pp
