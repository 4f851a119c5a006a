// lansim: Pacewire devices with reference pages on a simulated LAN; see --help.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "platform/sim/lan.h"
#include "tools/lansim/command_line.h"
#include "tools/lansim/progress.h"
#include "tools/lansim/report.h"
#include "tools/lansim/report_json.h"
#include "tools/lansim/report_text.h"
#include "tools/lansim/simulation.h"
#include "tools/lansim/spread_plot.h"

namespace {

// Opens `path` for writing, or says why it cannot and gives null.
std::FILE* OpenOutput(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (!file)
    std::fprintf(stderr, "lansim: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
  return file;
}

bool Close(std::FILE* file, const std::string& path) {
  if (std::fclose(file) == 0) return true;
  std::fprintf(stderr, "lansim: cannot write %s\n", path.c_str());
  return false;
}

int Run(const lansim::ProgramOptions& program) {
  const lansim::ScenarioOptions& scenario = program.scenario;
  std::fprintf(stderr, "lansim: seed %s (replay with --seed %s), %zu device%s, %s virtual\n",
               lansim::SeedText(scenario.seed).c_str(), lansim::SeedText(scenario.seed).c_str(),
               scenario.device_count(), scenario.device_count() == 1 ? "" : "s",
               lansim::FormatSeconds(scenario.duration_us).c_str());

  // Both files are opened before the run, so a bad path costs no run.
  std::FILE* trace = nullptr;
  std::FILE* plot_file = nullptr;
  if (!program.trace_file.empty() && !(trace = OpenOutput(program.trace_file))) return 1;
  if (!program.plot_file.empty() && !(plot_file = OpenOutput(program.plot_file))) {
    if (trace) std::fclose(trace);
    return 1;
  }
  lansim::SimulationSettings settings;
  if (trace) {
    settings.trace_sink = [trace](const sim::TraceEvent& event) {
      const std::string line = sim::ToString(event) + "\n";
      std::fwrite(line.data(), 1, line.size(), trace);
    };
  }

  std::string output;
  std::string plot;
  {
    lansim::Simulation simulation(scenario, std::move(settings));
    lansim::ProgressLine progress(stderr, isatty(fileno(stderr)) != 0);
    simulation.Run([&](int64_t now_us, int64_t end_us) {
      if (!program.quiet) progress.Update(now_us, end_us);
    });
    progress.Finish();
    const lansim::RunReport report = lansim::MakeReport(simulation);
    output = program.json ? lansim::ReportToJson(report).dump(2) + "\n"
                          : lansim::FormatTextReport(report);
    if (!program.plot_file.empty()) plot = lansim::DrawSpreadPlot(report);
  }
  bool written = !trace || Close(trace, program.trace_file);
  std::fwrite(output.data(), 1, output.size(), stdout);
  std::fflush(stdout);
  if (plot_file) {
    std::fwrite(plot.data(), 1, plot.size(), plot_file);
    if (Close(plot_file, program.plot_file)) {
      std::fprintf(stderr, "lansim: plot written to %s\n", program.plot_file.c_str());
    } else {
      written = false;
    }
  }
  if (!written) return 1;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const lansim::CommandLine command_line =
      lansim::ParseCommandLine(arguments, sim::SeedFromEnvironment(lansim::kDefaultSeed));
  if (command_line.action == lansim::CommandLine::Action::kExit) {
    if (command_line.exit_status == 0) {
      std::fputs(command_line.text.c_str(), stdout);
      if (!command_line.text.empty() && command_line.text.back() != '\n') std::fputc('\n', stdout);
    } else {
      std::fprintf(stderr, "lansim: %s (see --help)\n", command_line.text.c_str());
    }
    return command_line.exit_status;
  }
  try {
    return Run(command_line.options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "lansim: %s\n", error.what());
    return 1;
  }
}
