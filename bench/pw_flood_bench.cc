// pw-flood-bench: floods a pacewire-host and a cuebell-host, each in a network
// namespace of its own, from a third namespace, and prints what the modules
// kept up: the tick period with and without flood (as a ratio, measured in
// the same run), whether the pages kept getting their messages, events
// relayed against sent, memory before, during and after, and the flood rate
// one sender reached. Needs root for the namespaces; exits 77 where they
// cannot be made, 1 when a module did not end cleanly, 0 otherwise.
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "tests/stress/flood_run.h"

namespace {

bool EndedCleanly(const stress::ModuleFigures& figures) {
  return WIFEXITED(figures.wait_status) && WEXITSTATUS(figures.wait_status) == 0 &&
         figures.death_line_printed;
}

}  // namespace

int main(int argc, char** argv) {
  stress::FloodPlan plan;
  plan.pacewire_host = PACEWIRE_HOST_PATH;
  plan.cuebell_host = CUEBELL_HOST_PATH;
  double baseline_s = 10, flood_s = 30, after_s = 3;

  CLI::App app(
      "Floods pacewire-host and cuebell-host in network namespaces and prints what they kept up.",
      "pw-flood-bench");
  app.add_option("--baseline", baseline_s, "seconds of Pacewire ticks watched before its flood")
      ->check(CLI::Range(1.0, 600.0));
  app.add_option("--flood", flood_s, "seconds of flood per module")->check(CLI::Range(1.0, 600.0));
  app.add_option("--after", after_s, "seconds watched after each flood")
      ->check(CLI::Range(0.5, 60.0));
  app.add_option("--max-rate", plan.max_per_second, "datagrams per second, 0 for no cap");
  app.add_option("--max-bytes", plan.max_datagram_bytes, "largest datagram")
      ->check(CLI::Range(8, 1500));
  app.add_option("--seed", plan.seed, "seed of the datagram pools");
  app.add_option("--pacewire-host", plan.pacewire_host, "path of pacewire-host")
      ->check(CLI::ExistingFile);
  app.add_option("--cuebell-host", plan.cuebell_host, "path of cuebell-host")
      ->check(CLI::ExistingFile);
  CLI11_PARSE(app, argc, argv);

  auto ms = [](double seconds) {
    return std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
  };
  plan.baseline = ms(baseline_s);
  plan.flood = ms(flood_s);
  plan.after = ms(after_s);

  stress::FloodReport report;
  std::string problem;
  switch (stress::RunFlood(plan, &report, &problem)) {
    case stress::FloodOutcome::kCannotMakeNamespaces:
      std::fprintf(stderr, "pw-flood-bench: skipped: %s\n", problem.c_str());
      return 77;
    case stress::FloodOutcome::kFailed:
      std::fprintf(stderr, "pw-flood-bench: %s\n", problem.c_str());
      return 1;
    case stress::FloodOutcome::kRan:
      break;
  }
  std::fputs(stress::FormatReport(plan, report).c_str(), stdout);
  return EndedCleanly(report.pacewire) && EndedCleanly(report.cuebell) ? 0 : 1;
}
