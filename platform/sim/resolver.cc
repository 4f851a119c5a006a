#include "platform/sim/resolver.h"

#include <cctype>

#include "platform/pp_errors.h"
#include "platform/sim/address.h"
#include "platform/sim/host.h"
#include "platform/sim/lan.h"
#include "platform/sim/loop.h"

namespace sim {
namespace {
std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}
}  // namespace

void NameTable::Add(std::string_view name, uint32_t address) {
  names_[Lower(name)] = address;
}

std::optional<uint32_t> NameTable::Lookup(std::string_view host) const {
  if (auto address = ParseIpv4(host)) return address;
  const std::string name = Lower(host);
  if (name == "localhost") return kLoopbackAddress;
  auto it = names_.find(name);
  if (it == names_.end()) return std::nullopt;
  return it->second;
}

SimResolver::SimResolver(Lan& lan, Host& host) : lan_(lan), host_(host) {}

int32_t SimResolver::Resolve(const std::string& host, uint16_t port,
                             const pp::CompletionCallback& callback) {
  auto loop = SimLoop::CurrentOn(lan_);
  if (!loop) return PP_ERROR_NO_MESSAGE_LOOP;
  if (in_progress_) return PP_ERROR_INPROGRESS;
  in_progress_ = true;
  int32_t result = host_.faults().resolve.Check(host);
  std::vector<pp::NetAddress> found;
  if (result == PP_OK) {
    if (auto address = lan_.names().Lookup(host)) {
      found.push_back(pp::NetAddress::FromHostOrder(*address, port));
    } else {
      result = PP_ERROR_NAME_NOT_RESOLVED;
    }
  }
  lan_.scheduler().After(
      lan_.options().resolve_delay_us,
      [self = shared_from_this(), loop, callback, result, found = std::move(found)] {
        self->in_progress_ = false;
        self->addresses_ = found;
        loop->RunAsWork([&] { callback.Run(result); });
      });
  return PP_OK_COMPLETIONPENDING;
}

}  // namespace sim
