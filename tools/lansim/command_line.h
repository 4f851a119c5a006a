// lansim's command line: what to simulate and what to show.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/lansim/scenario_options.h"

namespace lansim {

// The seed when neither --seed nor PW_SIM_SEED gives one.
constexpr uint64_t kDefaultSeed = 1;

struct ProgramOptions {
  ScenarioOptions scenario;
  bool json = false;       // the report as one JSON document instead of text
  std::string plot_file;   // an SVG of the spread over time, when not empty
  std::string trace_file;  // every trace event, one line each, when not empty
  bool quiet = false;      // no progress on stderr
};

struct CommandLine {
  enum class Action { kRun, kExit };
  Action action = Action::kRun;
  // For kExit: 0 after --help (the help is in `text`), 2 after a bad argument
  // (`text` is the one-line error).
  int exit_status = 0;
  std::string text;
  ProgramOptions options;
};

// `arguments` without the program name. `default_seed` is used without --seed.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments, uint64_t default_seed);

}  // namespace lansim
