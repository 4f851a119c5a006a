// Host name resolution on the simulated LAN. A dotted IPv4 address resolves
// to itself; "localhost" to 127.0.0.1; every host given a name, and every name
// added with Lan::AddName, to its address (names compare case-insensitively).
// Anything else fails with PP_ERROR_NAME_NOT_RESOLVED. Resolution completes
// asynchronously, LanOptions::resolve_delay_us later, on the starting loop.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/backend.h"

namespace sim {

class Host;
class Lan;

class NameTable {
 public:
  void Add(std::string_view name, uint32_t address);
  std::optional<uint32_t> Lookup(std::string_view host) const;

 private:
  std::map<std::string, uint32_t> names_;
};

class SimResolver : public pp::HostResolverBackend,
                    public std::enable_shared_from_this<SimResolver> {
 public:
  SimResolver(Lan& lan, Host& host);

  // PP_ERROR_NO_MESSAGE_LOOP without a current loop, PP_ERROR_INPROGRESS while
  // a resolution is under way; else completes with PP_OK or an error.
  int32_t Resolve(const std::string& host, uint16_t port,
                  const pp::CompletionCallback& callback) override;
  // The addresses of the last resolution that succeeded; empty after a failure.
  std::vector<pp::NetAddress> addresses() const override { return addresses_; }

 private:
  Lan& lan_;
  Host& host_;
  bool in_progress_ = false;
  std::vector<pp::NetAddress> addresses_;
};

}  // namespace sim
