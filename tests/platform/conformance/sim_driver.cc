// The conformance suite's driver for the simulated LAN: one host, 10.0.0.2,
// with one embedding, on an otherwise empty /24.
#include <memory>

#include "platform/sim/sim.h"
#include "tests/platform/conformance/backend_driver.h"

namespace conformance {
namespace {

class SimDriver : public BackendDriver {
 public:
  SimDriver() : host_(lan_.AddHost("10.0.0.2")), embedding_(host_.AddEmbedding()) {}

  std::string name() const override { return "sim"; }
  pp::Embedding& embedding() override { return embedding_; }
  std::string local_address() const override { return "10.0.0.2"; }
  std::string unresolvable_name() const override { return "no-such-host.lan"; }

  void RunOnMainLoop(const std::function<void()>& fn) override {
    bool ran = false;
    embedding_.RunOnMainLoop([&] {
      fn();
      ran = true;
    });
    lan_.RunUntil([&] { return ran; }, 60 * sim::kSecond);
  }

  bool RunUntil(const std::function<bool()>& done, int64_t timeout_ms) override {
    return lan_.RunUntil(
        [&] {
          pp::internal::ScopedCurrentLoop on_main(embedding_.main_loop().get());
          return done();
        },
        timeout_ms * sim::kMillisecond);
  }

  void RunFor(int64_t duration_ms) override { lan_.RunFor(duration_ms * sim::kMillisecond); }

 private:
  sim::Lan lan_;
  sim::Host& host_;
  sim::SimEmbedding& embedding_;
};

}  // namespace

std::unique_ptr<BackendDriver> MakeBackendDriver() {
  return std::make_unique<SimDriver>();
}

}  // namespace conformance
