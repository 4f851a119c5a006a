#include "tests/stress/flood_run.h"

#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string_view>
#include <thread>

#include <nlohmann/json.hpp>

#include "tests/netns/netns_lab.h"
#include "tests/netns/page_lines.h"
#include "tests/stress/streamed_process.h"

namespace stress {

namespace {

using std::chrono::milliseconds;

constexpr uint16_t kSyncPort = 47475;
constexpr uint16_t kEventPort = 55555;
constexpr double kTickMs = 100;
constexpr int32_t kLongPlayMs = 6000000;  // no page ends during a run
constexpr size_t kPoolSize = 4096;
constexpr size_t kKeptLastLines = 8;

constexpr std::string_view kSocketsUpLine = R"("[LOG]: UDPReceiver: Successfully created.")";
constexpr std::string_view kMonitoringLinePrefix = R"("[LOG]: Monitoring mode is set to)";
constexpr std::string_view kEventLinePrefix = R"({"EVENT_TYPE":)";
constexpr std::string_view kPacewireDeathLine = R"("[ERR]: NaClInstance is dead.")";
constexpr std::string_view kCuebellDeathLine = R"("[ERR]: NaClInstance of Cuebell is dead.")";

double Ms(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// What one module's page got, filled in by the process's reader thread.
class PageWatch {
 public:
  explicit PageWatch(std::string_view death_line) : death_line_(death_line) {}

  void OnLine(std::string_view line, Clock::time_point at) {
    std::lock_guard lock(mutex_);
    if (StartsWith(line, kEventLinePrefix)) {
      events_.push_back(at);
    } else if (StartsWith(line, kMonitoringLinePrefix)) {
      ++monitoring_lines_;
    } else if (StartsWith(line, "{") && line.find(R"("SET_PLAYTIME")") != std::string_view::npos) {
      const auto play_time = netns::PostedEntry(std::string(line), "SET_PLAYTIME");
      if (play_time) play_times_.push_back({at, std::atoll(play_time->c_str())});
    } else if (line == kSocketsUpLine) {
      sockets_up_ = true;
      changed_.notify_all();
    } else if (line == death_line_) {
      death_line_printed_ = true;
    }
    last_lines_.emplace_back(line);
    if (last_lines_.size() > kKeptLastLines) last_lines_.pop_front();
  }

  bool WaitForSockets(Clock::duration timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return sockets_up_; });
  }

  struct PlayTime {
    Clock::time_point at;
    int64_t value;
  };
  std::vector<PlayTime> play_times() const {
    std::lock_guard lock(mutex_);
    return play_times_;
  }
  uint64_t EventsBetween(Clock::time_point from, Clock::time_point to) const {
    std::lock_guard lock(mutex_);
    return static_cast<uint64_t>(std::count_if(events_.begin(), events_.end(),
                                               [&](auto at) { return at >= from && at <= to; }));
  }
  uint64_t monitoring_lines() const {
    std::lock_guard lock(mutex_);
    return monitoring_lines_;
  }
  bool death_line_printed() const {
    std::lock_guard lock(mutex_);
    return death_line_printed_;
  }
  std::vector<std::string> last_lines() const {
    std::lock_guard lock(mutex_);
    return {last_lines_.begin(), last_lines_.end()};
  }

 private:
  const std::string_view death_line_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<PlayTime> play_times_;
  std::vector<Clock::time_point> events_;
  uint64_t monitoring_lines_ = 0;
  bool sockets_up_ = false;
  bool death_line_printed_ = false;
  std::deque<std::string> last_lines_;
};

// Resident memory of a process in kB, from /proc; 0 once it is gone.
long ResidentKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (StartsWith(line, "VmRSS:")) return std::atol(line.c_str() + 6);
  }
  return 0;
}

struct UdpCounters {
  uint64_t in_datagrams = 0;
  uint64_t receive_buffer_errors = 0;
};

// The UDP counters of the network namespace that `pid` lives in.
UdpCounters UdpCountersOf(pid_t pid) {
  std::ifstream snmp("/proc/" + std::to_string(pid) + "/net/snmp");
  std::string names, values, line;
  while (std::getline(snmp, line)) {
    if (!StartsWith(line, "Udp:")) continue;
    if (names.empty()) {
      names = line;
    } else {
      values = line;
      break;
    }
  }
  UdpCounters counters;
  std::istringstream name_words(names), value_words(values);
  std::string name, value;
  while (name_words >> name && value_words >> value) {
    if (name == "InDatagrams") counters.in_datagrams = std::stoull(value);
    if (name == "RcvbufErrors") counters.receive_buffer_errors = std::stoull(value);
  }
  return counters;
}

// One module program in one lab device.
struct Module {
  std::unique_ptr<PageWatch> page;
  std::unique_ptr<StreamedProcess> process;
};

std::optional<Module> StartModule(const netns::NetnsLab& lab, size_t device,
                                  const std::string& program, std::string_view death_line,
                                  std::string* problem) {
  const std::string& netns_name = lab.device(device).netns;
  const auto own = netns::NetnsIdOf("/proc/thread-self/ns/net");
  const auto target = netns::NetnsIdOf(netns::NetnsFile(netns_name));
  if (!own || !target || *own == *target) {
    *problem = netns_name + " is not a namespace of its own";
    return std::nullopt;
  }
  Module module;
  module.page = std::make_unique<PageWatch>(death_line);
  PageWatch* page = module.page.get();
  module.process = StreamedProcess::Start(
      {netns::FindProgram("ip"), "netns", "exec", netns_name, program},
      [page](std::string_view line, Clock::time_point at) { page->OnLine(line, at); }, problem);
  if (!module.process) return std::nullopt;
  return module;
}

// Runs one flood against `module` while sampling its memory once a second.
bool Flood(Flooder& flooder, const DatagramPool& pool, const FloodTarget& target,
           const FloodPlan& plan, Module& module, ModuleFigures* figures, std::string* problem) {
  const pid_t pid = module.process->pid();
  const UdpCounters before = UdpCountersOf(pid);
  figures->rss_before_kb = ResidentKb(pid);
  figures->rss_during_max_kb = figures->rss_before_kb;

  std::atomic<bool> done{false};
  bool ran = false;
  std::thread sender([&] {
    ran = flooder.Run(pool, {target}, plan.flood, plan.max_per_second, &figures->flood, problem);
    done.store(true);
  });
  Clock::time_point next_sample = Clock::now() + std::chrono::seconds(1);
  while (!done.load()) {
    std::this_thread::sleep_for(milliseconds(50));
    if (Clock::now() >= next_sample) {
      figures->rss_during_max_kb = std::max(figures->rss_during_max_kb, ResidentKb(pid));
      next_sample += std::chrono::seconds(1);
    }
  }
  sender.join();

  // Datagrams still on the wire when the sender stopped arrive during the watch.
  std::this_thread::sleep_for(plan.after);
  const UdpCounters after = UdpCountersOf(pid);
  figures->delivered = after.in_datagrams - before.in_datagrams;
  figures->buffer_drops = after.receive_buffer_errors - before.receive_buffer_errors;
  figures->rss_after_kb = ResidentKb(pid);
  return ran;
}

// Periods between consecutive play-time lines that both arrived in [from, to].
std::vector<double> PeriodsMs(const std::vector<PageWatch::PlayTime>& lines, Clock::time_point from,
                              Clock::time_point to) {
  std::vector<double> periods;
  for (size_t k = 1; k < lines.size(); ++k) {
    if (lines[k - 1].at >= from && lines[k].at <= to) {
      periods.push_back(Ms(lines[k].at - lines[k - 1].at));
    }
  }
  return periods;
}

std::vector<double> JittersMs(std::vector<double> periods) {
  for (double& period : periods) period = std::abs(period - kTickMs);
  return periods;
}

size_t CountBetween(const std::vector<PageWatch::PlayTime>& lines, Clock::time_point from,
                    Clock::time_point to) {
  return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const auto& line) {
    return line.at >= from && line.at <= to;
  }));
}

void FillPacewireFigures(const PageWatch& page, Clock::time_point baseline_start,
                         Clock::time_point baseline_end, Clock::time_point watch_end,
                         PacewireFigures* figures) {
  const auto lines = page.play_times();
  const Clock::time_point flood_start = figures->flood.started;
  const Clock::time_point flood_end = figures->flood.ended;
  const std::vector<double> baseline = PeriodsMs(lines, baseline_start, baseline_end);
  const std::vector<double> flood = PeriodsMs(lines, flood_start, flood_end);
  figures->baseline_period_ms = SpreadOf(baseline);
  figures->flood_period_ms = SpreadOf(flood);
  figures->baseline_jitter_ms = SpreadOf(JittersMs(baseline));
  figures->flood_jitter_ms = SpreadOf(JittersMs(flood));
  figures->play_time_lines_in_flood = CountBetween(lines, flood_start, flood_end);
  figures->play_time_lines_in_flood_second_half =
      CountBetween(lines, flood_start + (flood_end - flood_start) / 2, flood_end);
  figures->play_time_lines_after = CountBetween(lines, flood_end, watch_end);

  // The longest stretch of the flood without a play-time line, its edges included.
  Clock::time_point previous = flood_start;
  double longest = 0;
  for (const auto& line : lines) {
    if (line.at < flood_start || line.at > flood_end) continue;
    longest = std::max(longest, Ms(line.at - previous));
    previous = line.at;
  }
  figures->longest_gap_in_flood_ms = std::max(longest, Ms(flood_end - previous));
  for (size_t k = 1; k < lines.size(); ++k) {
    if (lines[k].value <= lines[k - 1].value) figures->play_time_went_forward = false;
  }
  figures->monitoring_requests_handled = page.monitoring_lines();
}

void EndModule(Module& module, const FloodPlan& plan, ModuleFigures* figures) {
  if (const auto status = module.process->WaitForExit(plan.patience)) {
    figures->wait_status = *status;
  } else {
    module.process->Kill();
    figures->wait_status = module.process->WaitForExit(milliseconds(0)).value_or(-1);
  }
  module.process->FinishReading();
  figures->death_line_printed = module.page->death_line_printed();
  figures->last_lines = module.page->last_lines();
  figures->error_output = module.process->ErrorOutput();
}

std::string Percent(uint64_t part, uint64_t whole) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%",
                whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole));
  return text;
}

std::string Fixed(double value, int decimals = 1) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string Ratio(double value, double baseline) {
  return baseline > 0 ? Fixed(value / baseline, 2) : "n/a";
}

std::string DescribeStatus(int status) {
  if (status < 0) return "did not end";
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

void FormatCommon(const ModuleFigures& figures, std::ostringstream& out) {
  const FloodStats& flood = figures.flood;
  out << "  flood sent          " << flood.total_sent << " datagrams in "
      << Fixed(flood.seconds(), 2) << " s = " << Fixed(flood.rate(), 0) << " datagrams/s";
  if (flood.refused > 0) out << " (" << flood.refused << " refused by the sender's kernel)";
  out << "\n  mix                ";
  for (size_t kind = 0; kind < kDatagramKinds; ++kind) {
    if (flood.sent[kind] == 0) continue;
    out << " " << KindName(static_cast<DatagramKind>(kind)) << " "
        << Percent(flood.sent[kind], flood.total_sent);
  }
  out << "\n  reached the device  " << figures.delivered << " queued on its sockets ("
      << Percent(figures.delivered, flood.total_sent) << "), " << figures.buffer_drops
      << " dropped at its full receive queue\n";
  out << "  VmRSS kB            before " << figures.rss_before_kb << ", during (max) "
      << figures.rss_during_max_kb << ", after " << figures.rss_after_kb << " (after/before "
      << Ratio(static_cast<double>(figures.rss_after_kb),
               static_cast<double>(figures.rss_before_kb))
      << ")\n";
  out << "  end of input        " << DescribeStatus(figures.wait_status) << ", death line "
      << (figures.death_line_printed ? "printed" : "MISSING") << "\n";
  if (!figures.error_output.empty()) out << "  stderr:\n" << figures.error_output << "\n";
}

}  // namespace

Spread SpreadOf(std::vector<double> values) {
  Spread spread;
  spread.count = values.size();
  if (values.empty()) return spread;
  std::sort(values.begin(), values.end());
  auto rank = [&](double fraction) {
    const size_t index =
        static_cast<size_t>(std::ceil(fraction * static_cast<double>(values.size())));
    return values[std::min(values.size(), std::max<size_t>(index, 1)) - 1];
  };
  spread.p50 = rank(0.50);
  spread.p99 = rank(0.99);
  spread.max = values.back();
  return spread;
}

FloodOutcome RunFlood(const FloodPlan& plan, FloodReport* report, std::string* problem) {
  *report = {};
  netns::LabProblem lab_problem;
  // Device 0 runs Pacewire, device 1 Cuebell, device 2 the flooder.
  const auto lab =
      netns::NetnsLab::Create({.host_numbers = {1, 2, 3}, .tag = "flood"}, &lab_problem);
  if (!lab) {
    *problem = lab_problem.reason;
    return lab_problem.kind == netns::LabProblem::kCannotMakeNamespaces
               ? FloodOutcome::kCannotMakeNamespaces
               : FloodOutcome::kFailed;
  }
  const std::string pacewire_address = lab->device(0).address;
  const std::string cuebell_address = lab->device(1).address;
  const std::string flooder_address = lab->device(2).address;
  report->lab = "pacewire-host at " + pacewire_address + ", cuebell-host at " + cuebell_address +
                ", flooder at " + flooder_address + ", each in a namespace of its own";

  const std::unique_ptr<Flooder> flooder = Flooder::Open(lab->device(2).netns, problem);
  if (!flooder) return FloodOutcome::kFailed;

  std::optional<Module> pacewire =
      StartModule(*lab, 0, plan.pacewire_host, kPacewireDeathLine, problem);
  if (!pacewire) return FloodOutcome::kFailed;
  std::optional<Module> cuebell =
      StartModule(*lab, 1, plan.cuebell_host, kCuebellDeathLine, problem);
  if (!cuebell) return FloodOutcome::kFailed;

  // Playing alone: every tick posts the play position.
  for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
           {"SET_DEVICEIP", pacewire_address},
           {"SET_TOTAL_SCHEDULE_PLAYTIME", std::to_string(kLongPlayMs)},
           {"SET_TOTAL_PLAYTIME", std::to_string(kLongPlayMs)},
           {"START_CLOCK_WITH_SYNC_ID", "-1"}}) {
    pacewire->process->WriteLine(netns::PageMessage(key, value));
  }
  if (!pacewire->page->WaitForSockets(plan.patience) ||
      !cuebell->page->WaitForSockets(plan.patience)) {
    *problem = "the modules did not set up their sockets within " +
               std::to_string(plan.patience.count()) + " ms";
    return FloodOutcome::kFailed;
  }

  // Pacewire: ticks without flood, then under flood, then after it.
  PacewireFigures& pw = report->pacewire;
  const Clock::time_point baseline_start = Clock::now();
  std::this_thread::sleep_for(plan.baseline);
  const Clock::time_point baseline_end = Clock::now();
  PacewireMix mix;
  mix.max_garbage_bytes = plan.max_datagram_bytes;
  mix.monitoring_address = flooder_address;
  mix.monitoring_port = flooder->port();
  mix.other_port = flooder->port() == 65535 ? 65534 : flooder->port() + 1;
  const DatagramPool pacewire_pool = MakePacewirePool(mix, kPoolSize, plan.seed);
  if (!Flood(*flooder, pacewire_pool, {pacewire_address, kSyncPort}, plan, *pacewire, &pw,
             problem)) {
    return FloodOutcome::kFailed;
  }
  FillPacewireFigures(*pacewire->page, baseline_start, baseline_end, Clock::now(), &pw);

  // Cuebell: events, then the events still queued when the flood stopped.
  CuebellFigures& cb = report->cuebell;
  const DatagramPool event_pool = MakeEventPool(plan.max_datagram_bytes, kPoolSize, plan.seed + 1);
  if (!Flood(*flooder, event_pool, {cuebell_address, kEventPort}, plan, *cuebell, &cb, problem)) {
    return FloodOutcome::kFailed;
  }
  cb.relayed_in_flood = cuebell->page->EventsBetween(cb.flood.started, cb.flood.ended);
  cb.relayed_total = cuebell->page->EventsBetween(cb.flood.started, Clock::now());

  pacewire->process->CloseInput();
  cuebell->process->CloseInput();
  EndModule(*pacewire, plan, &pw);
  EndModule(*cuebell, plan, &cb);
  return FloodOutcome::kRan;
}

std::string FormatReport(const FloodPlan& plan, const FloodReport& report) {
  std::ostringstream out;
  out << "Flood on the real backend: " << report.lab << ".\n"
      << "One sender (sendmmsg, " << Flooder::kBatch << " datagrams a call), "
      << (plan.max_per_second == 0 ? std::string("as fast as it goes")
                                   : "capped at " + std::to_string(plan.max_per_second) + "/s")
      << ", " << plan.flood.count() / 1000.0 << " s per module; datagrams up to "
      << plan.max_datagram_bytes << " bytes.\n\n";

  const PacewireFigures& pw = report.pacewire;
  out << "Pacewire (no group: a play-time line every tick)\n";
  FormatCommon(pw, out);
  out << "  tick period ms      baseline p50 " << Fixed(pw.baseline_period_ms.p50) << " p99 "
      << Fixed(pw.baseline_period_ms.p99) << " max " << Fixed(pw.baseline_period_ms.max) << " ("
      << pw.baseline_period_ms.count << " periods) | flood p50 " << Fixed(pw.flood_period_ms.p50)
      << " p99 " << Fixed(pw.flood_period_ms.p99) << " max " << Fixed(pw.flood_period_ms.max)
      << " (" << pw.flood_period_ms.count << ") | flood/baseline p50 "
      << Ratio(pw.flood_period_ms.p50, pw.baseline_period_ms.p50) << " p99 "
      << Ratio(pw.flood_period_ms.p99, pw.baseline_period_ms.p99) << "\n";
  out << "  jitter ms |p-100|   baseline p50 " << Fixed(pw.baseline_jitter_ms.p50, 2) << " p99 "
      << Fixed(pw.baseline_jitter_ms.p99, 2) << " | flood p50 " << Fixed(pw.flood_jitter_ms.p50, 2)
      << " p99 " << Fixed(pw.flood_jitter_ms.p99, 2) << " | flood/baseline p50 "
      << Ratio(pw.flood_jitter_ms.p50, pw.baseline_jitter_ms.p50) << " p99 "
      << Ratio(pw.flood_jitter_ms.p99, pw.baseline_jitter_ms.p99) << "\n";
  const double expected = pw.flood.seconds() * 1000.0 / kTickMs;
  out << "  page during flood   " << pw.play_time_lines_in_flood << " play-time lines (about "
      << Fixed(expected, 0) << " ticks' worth), longest gap "
      << Fixed(pw.longest_gap_in_flood_ms, 0) << " ms, " << pw.play_time_lines_after << " in the "
      << plan.after.count()
      << " ms after; play time always went forward: " << (pw.play_time_went_forward ? "yes" : "NO")
      << "\n";
  out << "  receive path        " << pw.monitoring_requests_handled
      << " set-monitoring requests handled of "
      << pw.flood.sent[static_cast<size_t>(DatagramKind::kSetMonitoring)] << " sent; "
      << pw.flood.monitoring_packets_received
      << " monitoring packets reached the flooder during the flood\n\n";

  const CuebellFigures& cb = report.cuebell;
  out << "Cuebell (events)\n";
  FormatCommon(cb, out);
  out << "  events relayed      " << cb.relayed_in_flood << " during the flood = "
      << Fixed(cb.flood.seconds() > 0
                   ? static_cast<double>(cb.relayed_in_flood) / cb.flood.seconds()
                   : 0,
               0)
      << "/s against " << Fixed(cb.flood.rate(), 0) << "/s sent ("
      << Percent(cb.relayed_in_flood, cb.flood.total_sent) << "); " << cb.relayed_total
      << " by the end of the watch (" << Percent(cb.relayed_total, cb.delivered)
      << " of those queued on its socket)\n";
  return out.str();
}

}  // namespace stress
