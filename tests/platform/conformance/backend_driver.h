// What the backend conformance suite needs from a backend: one embedding (one
// device), a way to run code on its main-thread loop, and a way to let the
// platform run until a condition holds. The same suite runs against the
// simulated LAN and the real POSIX backend (over loopback only).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/pp.h"

namespace conformance {

class BackendDriver {
 public:
  virtual ~BackendDriver() = default;
  virtual std::string name() const = 0;

  // The device under test.
  virtual pp::Embedding& embedding() = 0;
  // An IPv4 address text at which a socket bound to 0.0.0.0 on this device can
  // be reached from the device itself ("127.0.0.1" on the real backend).
  virtual std::string local_address() const = 0;
  // A host name that this backend fails to resolve without sending anything
  // off the machine (no query to a name server). The empty name by default.
  virtual std::string unresolvable_name() const { return ""; }

  // Runs `fn` on the device's main-thread loop, as the platform runs page
  // messages, and returns once it has run.
  virtual void RunOnMainLoop(const std::function<void()>& fn) = 0;
  // Lets the platform run until `done` (evaluated on the main-thread loop)
  // returns true or `timeout_ms` of the platform's time have passed. Returns
  // whether `done` became true.
  virtual bool RunUntil(const std::function<bool()>& done, int64_t timeout_ms) = 0;
  // Lets the platform run for `duration_ms` of the platform's time.
  virtual void RunFor(int64_t duration_ms) = 0;
};

// Each backend's test binary defines this; the suite makes one driver per test.
std::unique_ptr<BackendDriver> MakeBackendDriver();

}  // namespace conformance
