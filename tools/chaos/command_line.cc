#include "tools/chaos/command_line.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cinttypes>
#include <cstdio>

#include "tools/lansim/value_parsers.h"

namespace chaos {
namespace {

constexpr char kDescription[] =
    "pacewire-chaos: runs Pacewire devices with reference player pages on a simulated LAN,\n"
    "one random scenario per seed: 3 to 12 devices in 1 to 3 sync groups, a fault phase\n"
    "(loss, delay, jitter, duplicates, reordering, partitions, restarts, clock steps and\n"
    "drift, refused socket operations), then a quiet phase in which each group must settle on\n"
    "one parent within a bound derived from the protocol's timings, keep its pages' positions\n"
    "within a derived spread, and not grow in memory. The same seed gives the same run.";

constexpr char kFooter[] =
    "The bounds and their derivation: docs/RELIABILITY.md, \"Chaos campaign\".\n"
    "\n"
    "Exit status: 0 when every seed held, 1 when one did not (each failing seed is printed\n"
    "with the command that replays it), 2 on a bad argument.";

constexpr int64_t kShortestQuietPhaseUs = 10 * kSecondUs;

uint64_t WholeNumber(const std::string& option, const std::string& text, uint64_t low) {
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low) {
    throw lansim::UsageError(option + " '" + text + "' is not a whole number of at least " +
                             std::to_string(low));
  }
  return value;
}

template <typename Parse>
auto For(const char* option, Parse parse) -> decltype(parse()) {
  try {
    return parse();
  } catch (const lansim::UsageError& error) {
    throw lansim::UsageError(std::string(option) + ": " + error.what());
  }
}

std::string DurationText(int64_t us) {
  if (us % kSecondUs == 0) return std::to_string(us / kSecondUs) + "s";
  if (us % kMillisecondUs == 0) return std::to_string(us / kMillisecondUs) + "ms";
  return std::to_string(us) + "us";
}

}  // namespace

std::string SeedText(uint64_t seed) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%" PRIx64, seed);
  return text;
}

std::string ReplayCommand(uint64_t seed, const CampaignOptions& options) {
  std::string command = "pacewire-chaos ";
  if (options.churn) command += "--churn ";
  command += "--seed " + SeedText(seed);
  if (options.plan.quiet_phase_us != PlanSettings{}.quiet_phase_us) {
    command += " --quiet-phase " + DurationText(options.plan.quiet_phase_us);
  }
  return command;
}

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine result;
  CampaignOptions& options = result.options;

  CLI::App app(kDescription, "pacewire-chaos");
  app.footer(kFooter);
  app.get_formatter()->column_width(30);

  std::string seeds_text, first_seed_text, seed_text, quiet_text;
  bool no_progress = false;
  CLI::Option* seeds_option =
      app.add_option("--seeds", seeds_text, "Number of seeds to run (default 100)")->type_name("N");
  CLI::Option* first_option =
      app.add_option("--first-seed", first_seed_text,
                     "First seed; the others follow it one by one (default 1)")
          ->type_name("S");
  CLI::Option* seed_option =
      app.add_option("--seed", seed_text, "Run this one seed alone (replays a failure)")
          ->type_name("S");
  seed_option->excludes(seeds_option)->excludes(first_option);
  app.add_option("--quiet-phase", quiet_text,
                 "Length of the quiet phase, at least 10s (default 30s)")
      ->type_name("TIME");
  app.add_flag("--churn", options.churn,
               "Run destruction under load instead: instances destroyed and made again every few\n"
               "hundred ms under a flood of datagrams and page messages");
  app.add_flag("--json", options.json, "Print the results as one JSON document");
  app.add_flag("--show-plans", options.show_plans, "Print every seed's plan, not only failures'");
  app.add_flag("--no-progress", no_progress, "No progress line on stderr");
  app.add_option("--trace", options.trace_file,
                 "With --seed: write every event of the simulated LAN to FILE")
      ->type_name("FILE")
      ->needs(seed_option);

  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  try {
    app.parse(reversed);
    if (seed_option->count() > 0) {
      options.first_seed = For("--seed", [&] { return lansim::ParseSeed(seed_text); });
      options.seeds = 1;
    } else {
      if (first_option->count() > 0) {
        options.first_seed =
            For("--first-seed", [&] { return lansim::ParseSeed(first_seed_text); });
      }
      if (seeds_option->count() > 0) options.seeds = WholeNumber("--seeds", seeds_text, 1);
    }
    if (!quiet_text.empty()) {
      options.plan.quiet_phase_us =
          For("--quiet-phase", [&] { return lansim::ParseDuration(quiet_text); });
      if (options.plan.quiet_phase_us < kShortestQuietPhaseUs) {
        throw lansim::UsageError("--quiet-phase must be at least 10s");
      }
    }
    options.progress = !no_progress;
  } catch (const CLI::CallForHelp&) {
    result.action = CommandLine::Action::kExit;
    result.exit_status = 0;
    result.text = app.help();
  } catch (const CLI::ParseError& error) {
    result.action = CommandLine::Action::kExit;
    result.exit_status = 2;
    result.text = error.what();
  } catch (const lansim::UsageError& error) {
    result.action = CommandLine::Action::kExit;
    result.exit_status = 2;
    result.text = error.what();
  }
  return result;
}

}  // namespace chaos
