// IPv4 socket addresses. The port and the address bytes are kept in network
// byte order, as the platform's IPv4 address structure holds them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/var.h"

struct PP_NetAddress_IPv4 {
  uint16_t port = 0;       // network byte order
  uint8_t addr[4] = {0};   // a.b.c.d
};

enum PP_NetAddress_Family {
  PP_NETADDRESS_FAMILY_UNSPECIFIED = 0,
  PP_NETADDRESS_FAMILY_IPV4 = 1,
  PP_NETADDRESS_FAMILY_IPV6 = 2,
};

namespace pp {

class InstanceHandle;

class NetAddress {
 public:
  NetAddress() = default;  // null
  NetAddress(const InstanceHandle& instance, const PP_NetAddress_IPv4& ipv4);

  bool is_null() const { return null_; }
  PP_NetAddress_Family GetFamily() const {
    return null_ ? PP_NETADDRESS_FAMILY_UNSPECIFIED : PP_NETADDRESS_FAMILY_IPV4;
  }
  bool DescribeAsIPv4Address(PP_NetAddress_IPv4* out) const;
  // "a.b.c.d:port" with the port, "a.b.c.d" without; an undefined Var when null.
  Var DescribeAsString(bool include_port) const;

  // Host-order conveniences for backends and tests.
  static NetAddress FromHostOrder(uint32_t address, uint16_t port);
  uint32_t address_host_order() const;
  uint16_t port_host_order() const;

  friend bool operator==(const NetAddress& a, const NetAddress& b);
  friend bool operator!=(const NetAddress& a, const NetAddress& b) { return !(a == b); }

 private:
  bool null_ = true;
  PP_NetAddress_IPv4 ipv4_;
};

}  // namespace pp
