#include "tools/lansim/command_line.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <optional>
#include <set>

#include "tools/lansim/value_parsers.h"

namespace lansim {
namespace {

constexpr char kDescription[] =
    "lansim: runs Pacewire devices with reference player pages on a simulated LAN, in virtual\n"
    "time, and reports how each sync group elected its parent and how closely the pages\n"
    "agree on the play position. The same seed and options give the same report.";

constexpr char kFooter[] =
    "Formats:\n"
    "  TIME       a number with a unit: us, ms, s or m (250ms, 1.5s, 2m); a bare number is s\n"
    "  DEVICE     1..N or the address: device k is 10.0.0.k\n"
    "  P          a probability: 0.05 or 5%\n"
    "  --partition 10s-20s:1,2,3|4,5,6   no datagram passes between 1-3 and 4-6 from 10 s to\n"
    "             20 s; sides are lists of devices and ranges (1-3); one side alone means\n"
    "             'against every other device'\n"
    "  --restart 3@20s+2s    device 3's instance is destroyed at 20 s, a new one starts 2 s later\n"
    "  --clock-step 2@15s:-500ms   device 2's wall clock is set back 500 ms at 15 s\n"
    "\n"
    "Spread: every 100 ms of virtual time after a group has settled (exactly one parent,\n"
    "held at least 1 s), the largest difference between its pages' schedule positions,\n"
    "each the position last told to the page plus the time since. Devices that are down, or\n"
    "whose module has told them nothing since it started, do not count.\n"
    "\n"
    "Exit status: 0 after a run, 2 on a bad argument, 1 when a file cannot be written.";

int64_t IntegerOption(const std::string& name, const std::string& text, int64_t low, int64_t high) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low ||
      value > high) {
    throw UsageError(name + " '" + text + "' is not a whole number from " + std::to_string(low) +
                     " to " + std::to_string(high));
  }
  return value;
}

std::vector<GroupOptions> MakeGroups(const std::optional<std::string>& devices_text,
                                     const std::optional<std::string>& groups_text,
                                     const std::vector<std::string>& group_texts) {
  if (!group_texts.empty()) {
    if (groups_text) throw UsageError("--group and --groups cannot be used together");
    std::vector<GroupOptions> groups;
    std::set<int32_t> sync_ids;
    size_t total = 0;
    for (const auto& text : group_texts) {
      groups.push_back(ParseGroup(text));
      if (!sync_ids.insert(groups.back().sync_id).second) {
        throw UsageError("--group: sync ID " + std::to_string(groups.back().sync_id) +
                         " is given twice");
      }
      total += groups.back().devices;
    }
    if (total > kMaxDevices) throw UsageError("--group: more than 254 devices in all");
    if (devices_text &&
        static_cast<size_t>(IntegerOption("--devices", *devices_text, 1, kMaxDevices)) != total) {
      throw UsageError("--devices " + *devices_text + " differs from the " + std::to_string(total) +
                       " devices of the --group options");
    }
    return groups;
  }
  const auto devices = static_cast<size_t>(
      devices_text ? IntegerOption("--devices", *devices_text, 1, kMaxDevices) : 6);
  const auto group_count = static_cast<size_t>(
      groups_text ? IntegerOption("--groups", *groups_text, 1, kMaxDevices) : 1);
  if (group_count > devices) {
    throw UsageError("--groups " + std::to_string(group_count) + " is more than the " +
                     std::to_string(devices) + " devices");
  }
  // Consecutive devices per group, the first groups one larger when it does not divide.
  std::vector<GroupOptions> groups;
  for (size_t group = 0; group < group_count; ++group) {
    const size_t size = devices / group_count + (group < devices % group_count ? 1 : 0);
    groups.push_back(GroupOptions{static_cast<int32_t>(group + 1), size});
  }
  return groups;
}

void CheckWithinRun(int64_t at_us, int64_t duration_us) {
  if (at_us >= duration_us) {
    throw UsageError("time " + std::to_string(at_us / kMillisecondUs) +
                     " ms is not before the end of the run");
  }
}

// Runs `parse`, naming `option` in its error.
template <typename Parse>
auto For(const char* option, Parse parse) -> decltype(parse()) {
  try {
    return parse();
  } catch (const UsageError& error) {
    throw UsageError(std::string(option) + ": " + error.what());
  }
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments, uint64_t default_seed) {
  CommandLine result;
  ProgramOptions& program = result.options;
  ScenarioOptions& scenario = program.scenario;

  CLI::App app(kDescription, "lansim");
  app.footer(kFooter);
  app.get_formatter()->column_width(34);

  std::string devices_text, groups_text, seed_text;
  std::vector<std::string> group_texts, partition_texts, restart_texts, clock_step_texts;
  std::string duration_text = "60s", schedule_text = "10000,15000,5000";
  std::string delay_text = "0.2", jitter_text = "0", drift_text = "0", offset_text = "0";
  std::string loss_text = "0", duplicate_text = "0", reorder_text = "0";

  CLI::Option* devices_option =
      app.add_option("--devices", devices_text, "Number of devices, 1 to 254 (default 6)")
          ->type_name("N");
  CLI::Option* groups_option =
      app.add_option("--groups", groups_text,
                     "Split the devices into G sync groups of consecutive devices, sync IDs 1..G "
                     "(default 1)")
          ->type_name("G");
  app.add_option("--group", group_texts,
                 "A sync group of COUNT devices with sync ID SID; repeat for more groups")
      ->type_name("SID:COUNT")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--duration", duration_text, "Virtual time to run (default 60s)")
      ->type_name("TIME");
  app.add_option("--schedule", schedule_text,
                 "Page durations of the frame schedule, ms (default 10000,15000,5000)")
      ->type_name("MS,MS,...");
  CLI::Option* seed_option =
      app.add_option("--seed", seed_text,
                     "Seed of the run, decimal or 0x hex (default: PW_SIM_SEED, else 1)")
          ->type_name("N");
  app.add_option("--delay-ms", delay_text, "One-way delay between devices (default 0.2)")
      ->type_name("MS");
  app.add_option("--jitter-ms", jitter_text, "Extra delay drawn from [0, MS] (default 0)")
      ->type_name("MS");
  app.add_option("--loss", loss_text, "Chance that a datagram copy is lost")->type_name("P");
  app.add_option("--duplicate", duplicate_text, "Chance that a datagram arrives twice")
      ->type_name("P");
  app.add_option("--reorder", reorder_text, "Chance that a datagram is held back 5 ms")
      ->type_name("P");
  app.add_option("--partition", partition_texts, "Split the LAN for a while; repeatable")
      ->type_name("START-END:A,B|C,D")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--restart", restart_texts,
                 "Destroy a device's instance and start a new one DOWN later; repeatable")
      ->type_name("DEVICE@TIME[+DOWN]")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--clock-step", clock_step_texts, "Set a device's wall clock; repeatable")
      ->type_name("DEVICE@TIME:DELTA")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--drift-ppm", drift_text,
                 "Each device's clock drift is drawn from [-PPM, PPM] (default 0)")
      ->type_name("PPM");
  app.add_option("--clock-offset-ms", offset_text,
                 "Each device's clock offset is drawn from [-MS, MS] (default 0)")
      ->type_name("MS");
  app.add_flag("--json", program.json, "Print the report as one JSON document");
  app.add_option("--plot", program.plot_file, "Draw the spread over time into an SVG file")
      ->type_name("FILE");
  app.add_option("--trace", program.trace_file, "Write every event of the simulated LAN")
      ->type_name("FILE");
  app.add_flag("-q,--quiet", program.quiet, "No progress on stderr");

  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  try {
    app.parse(reversed);
    const auto given = [](CLI::Option* option, const std::string& text) {
      return option->count() > 0 ? std::optional<std::string>(text) : std::nullopt;
    };
    scenario.groups = MakeGroups(given(devices_option, devices_text),
                                 given(groups_option, groups_text), group_texts);
    const size_t devices = scenario.device_count();
    scenario.duration_us = For("--duration", [&] { return ParseDuration(duration_text); });
    if (scenario.duration_us <= 0) throw UsageError("--duration must be more than 0");
    scenario.schedule_ms = For("--schedule", [&] { return ParseSchedule(schedule_text); });
    if (seed_option->count() > 0) {
      scenario.seed = For("--seed", [&] { return ParseSeed(seed_text); });
    } else {
      scenario.seed = default_seed;
    }
    scenario.delay_us = For("--delay-ms", [&] { return ParseMillisecondsToMicros(delay_text); });
    scenario.jitter_us = For("--jitter-ms", [&] { return ParseMillisecondsToMicros(jitter_text); });
    scenario.loss = For("--loss", [&] { return ParseProbability(loss_text); });
    scenario.duplicate = For("--duplicate", [&] { return ParseProbability(duplicate_text); });
    scenario.reorder = For("--reorder", [&] { return ParseProbability(reorder_text); });
    scenario.clock_offset_us =
        For("--clock-offset-ms", [&] { return ParseMillisecondsToMicros(offset_text); });
    scenario.drift_ppm = For("--drift-ppm", [&] { return ParseNumber(drift_text, "ppm", 1e5); });
    for (const auto& text : partition_texts) {
      scenario.partitions.push_back(For("--partition", [&] {
        PartitionSpec partition = ParsePartition(text, devices);
        CheckWithinRun(partition.from_us, scenario.duration_us);
        return partition;
      }));
    }
    for (const auto& text : restart_texts) {
      scenario.restarts.push_back(For("--restart", [&] {
        RestartSpec restart = ParseRestart(text, devices);
        CheckWithinRun(restart.at_us, scenario.duration_us);
        return restart;
      }));
    }
    for (const auto& text : clock_step_texts) {
      scenario.clock_steps.push_back(For("--clock-step", [&] {
        ClockStepSpec step = ParseClockStep(text, devices);
        CheckWithinRun(step.at_us, scenario.duration_us);
        return step;
      }));
    }
  } catch (const CLI::CallForHelp&) {
    result.action = CommandLine::Action::kExit;
    result.exit_status = 0;
    result.text = app.help();
  } catch (const CLI::ParseError& error) {
    result.action = CommandLine::Action::kExit;
    result.exit_status = 2;
    result.text = error.what();
  } catch (const UsageError& error) {
    result.action = CommandLine::Action::kExit;
    result.exit_status = 2;
    result.text = error.what();
  }
  return result;
}

}  // namespace lansim
