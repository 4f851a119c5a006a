#include "tools/chaos/trace_audit.h"

#include <cstdio>

namespace chaos {
namespace {

constexpr size_t kMostProblemsKept = 20;

// "10.0.0.3/2 mainThread" -> "10.0.0.3/2"; empty for "(no loop)".
std::string LabelOfLoop(const std::string& loop) {
  if (loop.empty() || loop.front() == '(') return {};
  const size_t space = loop.rfind(' ');
  return space == std::string::npos ? std::string() : loop.substr(0, space);
}

bool OnMainLoop(const std::string& loop) {
  static const std::string kMain = " platform-main";
  return loop.size() > kMain.size() &&
         loop.compare(loop.size() - kMain.size(), kMain.size(), kMain) == 0;
}

}  // namespace

TraceAudit::TraceAudit(std::vector<std::string> death_lines)
    : death_lines_(std::move(death_lines)) {}

void TraceAudit::Problem(const sim::TraceEvent& event, const std::string& what) {
  if (problems_.size() < kMostProblemsKept) problems_.push_back(what + ": " + sim::ToString(event));
}

bool TraceAudit::IsDeathLine(const std::string& value) const {
  for (const auto& line : death_lines_) {
    if (value.find(line) != std::string::npos) return true;
  }
  return false;
}

void TraceAudit::Take(const sim::TraceEvent& event) {
  switch (event.kind) {
    case sim::TraceKind::kSend:
      if (event.datagram <= last_sent_) Problem(event, "datagram numbers went back");
      last_sent_ = event.datagram;
      break;
    case sim::TraceKind::kDeliver:
      ++deliveries_;
      [[fallthrough]];
    case sim::TraceKind::kDrop:
      if (event.datagram == 0 || event.datagram > last_sent_) {
        Problem(event, "a datagram arrived that was never sent");
      }
      break;
    case sim::TraceKind::kLifecycle:
      if (event.text.rfind("start ", 0) == 0) {
        ++starts_;
        const std::string label = event.text.substr(6);
        if (!started_.insert(label).second) Problem(event, "an instance label started twice");
      } else if (event.text.rfind("stop ", 0) == 0) {
        ++stops_;
        const std::string label = event.text.substr(5);
        if (!started_.count(label)) Problem(event, "an instance stopped that never started");
        if (!stopped_.emplace(label, Stopped{event.time_us, 0, false}).second) {
          Problem(event, "an instance stopped twice");
        }
      }
      break;
    case sim::TraceKind::kPost:
      TakePost(event);
      break;
    case sim::TraceKind::kDroppedWork: {
      ++dropped_work_;
      const std::string label = LabelOfLoop(event.text);
      if (!label.empty() && !stopped_.count(label)) {
        Problem(event, "work dropped by a loop of an instance still running");
      }
      break;
    }
    default:
      break;
  }
}

void TraceAudit::TakePost(const sim::TraceEvent& event) {
  ++posts_;
  // "page 10.0.0.3 <- 10.0.0.3/2 mainThread: <value>"
  const size_t arrow = event.text.find(" <- ");
  if (arrow == std::string::npos) return;
  const size_t colon = event.text.find(": ", arrow + 4);
  if (colon == std::string::npos) return;
  const std::string loop = event.text.substr(arrow + 4, colon - arrow - 4);
  const std::string value = event.text.substr(colon + 2);
  const std::string label = LabelOfLoop(loop);
  const auto it = stopped_.find(label);
  if (label.empty() || it == stopped_.end()) {
    if (IsDeathLine(value)) Problem(event, "a death line from an instance not stopped");
    return;
  }
  Stopped& stopped = it->second;
  if (event.time_us != stopped.time_us || !OnMainLoop(loop)) {
    Problem(event, "a post from an instance after its stop");
  } else if (IsDeathLine(value)) {
    if (++stopped.death_lines > 1) Problem(event, "a second death line");
    if (stopped.posted_after_death) Problem(event, "the death line after other lines of the stop");
  } else if (stopped.death_lines == 0) {
    Problem(event, "a line of the stop before the death line");
  } else {
    stopped.posted_after_death = true;
  }
}

void TraceAudit::Finish() {
  for (const auto& [label, stopped] : stopped_) {
    if (stopped.death_lines == 1) continue;
    if (problems_.size() < kMostProblemsKept) {
      problems_.push_back(label + " stopped with " + std::to_string(stopped.death_lines) +
                          " death lines");
    }
  }
}

}  // namespace chaos
