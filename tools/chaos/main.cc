// pacewire-chaos: random fault scenarios on the simulated LAN, one per seed,
// each checked against bounds derived from the protocol; see --help.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "platform/sim/trace.h"
#include "tools/chaos/campaign.h"
#include "tools/chaos/command_line.h"
#include "tools/chaos/plan.h"
#include "tools/chaos/run.h"

namespace {

void Print(std::FILE* out, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
}

// A progress line on stderr: redrawn in place on a terminal, else printed at
// every tenth of the campaign.
class Progress {
 public:
  Progress(bool enabled, uint64_t total)
      : enabled_(enabled && total > 1), terminal_(isatty(STDERR_FILENO) != 0), total_(total) {}

  void Update(uint64_t done, uint64_t failed) {
    if (!enabled_) return;
    const uint64_t tenth = done * 10 / total_;
    if (!terminal_ && tenth == last_tenth_) return;
    last_tenth_ = tenth;
    std::fprintf(stderr, "%spacewire-chaos: %llu/%llu seeds, %llu failed%s", terminal_ ? "\r" : "",
                 static_cast<unsigned long long>(done), static_cast<unsigned long long>(total_),
                 static_cast<unsigned long long>(failed), terminal_ ? "" : "\n");
    if (terminal_ && done == total_) std::fputc('\n', stderr);
    std::fflush(stderr);
  }

 private:
  bool enabled_;
  bool terminal_;
  uint64_t total_;
  uint64_t last_tenth_ = 0;
};

int RunChurn(const chaos::CampaignOptions& options) {
  chaos::ChurnSummary summary;
  nlohmann::json seeds = nlohmann::json::array();
  Progress progress(options.progress, options.seeds);
  for (uint64_t i = 0; i < options.seeds; ++i) {
    const chaos::ChurnReport report = chaos::RunChurn(options.first_seed + i);
    summary.Add(report);
    if (options.json) {
      seeds.push_back(chaos::ChurnJson(report, options));
    } else if (!report.ok() || options.show_plans || options.seeds == 1) {
      Print(stdout, chaos::ChurnReportText(report, options));
    }
    progress.Update(i + 1, summary.failed_seeds.size());
  }
  if (options.json) {
    const nlohmann::json document = {{"summary", chaos::ChurnSummaryJson(summary, options)},
                                     {"seeds", seeds}};
    Print(stdout, document.dump(2) + "\n");
  } else {
    Print(stdout, chaos::ChurnSummaryText(summary, options));
  }
  return summary.failed_seeds.empty() ? 0 : 1;
}

int Run(const chaos::CampaignOptions& options) {
  if (options.churn) return RunChurn(options);
  chaos::RunSettings run_settings = options.run;
  std::FILE* trace = nullptr;
  if (!options.trace_file.empty()) {
    trace = std::fopen(options.trace_file.c_str(), "w");
    if (!trace) {
      std::fprintf(stderr, "pacewire-chaos: cannot write %s\n", options.trace_file.c_str());
      return 1;
    }
    run_settings.trace_sink = [trace](const sim::TraceEvent& event) {
      const std::string line = sim::ToString(event) + "\n";
      std::fwrite(line.data(), 1, line.size(), trace);
    };
  }
  chaos::CampaignSummary summary;
  nlohmann::json seeds = nlohmann::json::array();
  Progress progress(options.progress, options.seeds);
  const bool single = options.seeds == 1;
  for (uint64_t i = 0; i < options.seeds; ++i) {
    const uint64_t seed = options.first_seed + i;
    const chaos::RunReport report =
        chaos::RunPlan(chaos::MakePlan(seed, options.plan), run_settings);
    summary.Add(report);
    if (options.json) {
      seeds.push_back(chaos::SeedJson(report, options));
    } else if (!report.ok() || options.show_plans || single) {
      Print(stdout, chaos::SeedReportText(report, options, options.show_plans || single));
    }
    progress.Update(i + 1, summary.failed_seeds.size());
  }
  if (trace && std::fclose(trace) != 0) {
    std::fprintf(stderr, "pacewire-chaos: cannot write %s\n", options.trace_file.c_str());
    return 1;
  }
  if (options.json) {
    const nlohmann::json document = {{"summary", chaos::SummaryJson(summary, options)},
                                     {"seeds", seeds}};
    Print(stdout, document.dump(2) + "\n");
  } else {
    Print(stdout, chaos::SummaryText(summary, options));
  }
  return summary.failed_seeds.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const chaos::CommandLine command = chaos::ParseCommandLine(arguments);
  if (command.action == chaos::CommandLine::Action::kExit) {
    Print(command.exit_status == 0 ? stdout : stderr,
          command.text + (command.exit_status == 0 ? "" : "\nRun with --help for more.\n"));
    return command.exit_status;
  }
  try {
    return Run(command.options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "pacewire-chaos: %s\n", error.what());
    return 1;
  }
}
