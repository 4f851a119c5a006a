#include "tools/lansim/spread_plot.h"

#include <algorithm>
#include <cmath>

#include "tools/lansim/report_text.h"
#include "tools/lansim/svg_writer.h"

namespace lansim {
namespace {

constexpr double kWidth = 960;
constexpr double kHeight = 460;
constexpr double kLeft = 70;
constexpr double kRight = 20;
constexpr double kTop = 78;
constexpr double kBottom = 64;
constexpr const char* kGroupColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd",
                                         "#ff7f0e", "#17becf", "#8c564b", "#e377c2"};

const char* GroupColour(size_t group) {
  return kGroupColours[group % (sizeof kGroupColours / sizeof kGroupColours[0])];
}

double DecadeBelow(double value) {
  return std::pow(10.0, std::floor(std::log10(value)));
}

double DecadeAbove(double value) {
  return std::pow(10.0, std::ceil(std::log10(value)));
}

// 1, 2 or 5 times a power of ten, at least `value`.
double NiceCeiling(double value) {
  if (value <= 0) return 1;
  const double power = std::pow(10.0, std::floor(std::log10(value)));
  for (const double step : {1.0, 2.0, 5.0, 10.0}) {
    if (step * power >= value) return step * power;
  }
  return 10 * power;
}

std::string Trim(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

// Spreads span decades (a fraction of a millisecond in step, seconds while a
// group re-elects), so the y axis is logarithmic over whole decades.
class Chart {
 public:
  Chart(double end_s, double bottom_ms, double top_ms)
      : end_s_(std::max(end_s, 1e-3)),
        low_(std::log10(bottom_ms)),
        high_(std::max(std::log10(top_ms), low_ + 1)) {}
  double X(double seconds) const { return kLeft + seconds / end_s_ * (kWidth - kLeft - kRight); }
  double Y(double ms) const {
    const double level = std::clamp(std::log10(std::max(ms, 1e-9)), low_, high_);
    return plot_bottom() - (level - low_) / (high_ - low_) * (plot_bottom() - plot_top());
  }
  double plot_top() const { return kTop; }
  double plot_bottom() const { return kHeight - kBottom; }
  int low_decade() const { return static_cast<int>(std::lround(low_)); }
  int high_decade() const { return static_cast<int>(std::lround(high_)); }

 private:
  double end_s_;
  double low_;
  double high_;
};

double Seconds(int64_t us) {
  return static_cast<double>(us) / kSecondUs;
}

void DrawAxes(SvgWriter& svg, const Chart& chart, double end_s) {
  const double x_step = NiceCeiling(end_s / 10);
  for (double s = 0; s <= end_s + 1e-9; s += x_step) {
    svg.Line(chart.X(s), chart.plot_top(), chart.X(s), chart.plot_bottom(), "#eee", 1);
    svg.Text(chart.X(s), chart.plot_bottom() + 16, Trim(s), 11, "middle");
  }
  for (int decade = chart.low_decade(); decade <= chart.high_decade(); ++decade) {
    const double ms = std::pow(10.0, decade);
    svg.Line(kLeft, chart.Y(ms), kWidth - kRight, chart.Y(ms), "#e4e4e4", 1);
    svg.Text(kLeft - 6, chart.Y(ms) + 4, Trim(ms), 11, "end");
  }
  svg.Line(kLeft, chart.plot_bottom(), kWidth - kRight, chart.plot_bottom(), "#444", 1);
  svg.Line(kLeft, chart.plot_top(), kLeft, chart.plot_bottom(), "#444", 1);
  svg.Text((kLeft + kWidth - kRight) / 2, kHeight - 28, "virtual time (s)", 12, "middle");
  const double middle = (chart.plot_top() + chart.plot_bottom()) / 2;
  svg.Text(16, middle, "sync spread (ms, log scale)", 12, "middle", "#222",
           {{"transform", "rotate(-90 16 " + Trim(middle) + ")"}});
}

void DrawMarks(SvgWriter& svg, const Chart& chart, const RunReport& report) {
  for (const auto& mark : report.marks) {
    const double x = chart.X(Seconds(mark.from_us));
    const double until = chart.X(Seconds(std::min(mark.until_us, report.end_us)));
    switch (mark.kind) {
      case ScenarioMark::Kind::kPartition:
        svg.Rect(x, chart.plot_top(), until - x, chart.plot_bottom() - chart.plot_top(), "#f4c7c3",
                 {{"fill-opacity", "0.6"}});
        svg.Text(x + 3, chart.plot_top() + 12, "partition " + mark.text, 10, "start", "#a33");
        break;
      case ScenarioMark::Kind::kRestart:
        svg.Rect(x, chart.plot_top(), std::max(until - x, 1.0),
                 chart.plot_bottom() - chart.plot_top(), "#ddd", {{"fill-opacity", "0.7"}});
        svg.Text(x + 3, chart.plot_top() + 24, "restart " + mark.text, 10, "start", "#555");
        break;
      case ScenarioMark::Kind::kClockStep:
        svg.Line(x, chart.plot_top(), x, chart.plot_bottom(), "#7b4ea3", 1.5,
                 {{"stroke-dasharray", "2 3"}});
        svg.Text(x + 3, chart.plot_top() + 36, "clock " + mark.text, 10, "start", "#7b4ea3");
        break;
    }
  }
}

void DrawGroup(SvgWriter& svg, const Chart& chart, const GroupReport& group, size_t index) {
  const char* colour = GroupColour(index);
  // Role changes: short ticks above the plot, one row per group.
  const double tick_bottom = chart.plot_top() - 3 - 10.0 * static_cast<double>(index);
  for (const int64_t time : group.roles.change_times_us) {
    const double x = chart.X(Seconds(time));
    svg.Line(x, tick_bottom, x, tick_bottom - 7, colour, 1.5);
  }
  if (group.roles.settled_us) {
    const double x = chart.X(Seconds(*group.roles.settled_us));
    svg.Line(x, chart.plot_top(), x, chart.plot_bottom(), colour, 1, {{"stroke-dasharray", "6 4"}});
  }
  // The series, broken where an instant had no spread.
  std::vector<std::pair<double, double>> run;
  int64_t previous = -1;
  for (const auto& point : group.spread_series) {
    if (previous >= 0 && point.time_us - previous > kSpreadStepUs) {
      svg.Polyline(run, colour, 1.5);
      run.clear();
    }
    run.emplace_back(chart.X(Seconds(point.time_us)),
                     chart.Y(static_cast<double>(point.spread_us) / kMillisecondUs));
    previous = point.time_us;
  }
  if (run.size() == 1) run.push_back({run[0].first + 1, run[0].second});
  svg.Polyline(run, colour, 1.5);
}

}  // namespace

std::string DrawSpreadPlot(const RunReport& report) {
  double low_ms = 0;
  double top_ms = 0;
  for (const auto& group : report.groups) {
    for (const auto& point : group.spread_series) {
      const double ms = static_cast<double>(point.spread_us) / kMillisecondUs;
      top_ms = std::max(top_ms, ms);
      if (ms > 0 && (low_ms == 0 || ms < low_ms)) low_ms = ms;
    }
  }
  // A spread of 0 (pages told the same position at the same instant) sits on the bottom line.
  const double bottom = DecadeBelow(std::max(low_ms > 0 ? low_ms : 0.01, 0.001));
  const double top = DecadeAbove(std::max(top_ms, bottom * 10));
  const double end_s = Seconds(report.end_us);
  const Chart chart(end_s, bottom, top);

  SvgWriter svg(kWidth, kHeight);
  svg.Text(kLeft, 22,
           "Sync spread over virtual time: " + std::to_string(report.devices.size()) +
               " devices, seed " + SeedText(report.options.seed),
           15, "start", "#111", {{"font-weight", "bold"}});
  svg.Text(kLeft, 40,
           "dashed: group settled on one parent; ticks above: role changes; "
           "shaded: partitions (red) and restarts (grey)",
           11, "start", "#555");
  DrawAxes(svg, chart, end_s);
  DrawMarks(svg, chart, report);
  for (size_t group = 0; group < report.groups.size(); ++group) {
    DrawGroup(svg, chart, report.groups[group], group);
  }
  // Legend, below the axis title.
  double x = kLeft;
  for (size_t group = 0; group < report.groups.size(); ++group) {
    const auto& entry = report.groups[group];
    std::string label = "group " + std::to_string(entry.sync_id);
    if (entry.spread) label += " (p99 " + FormatMilliseconds(entry.spread->p99_us) + ")";
    svg.Line(x, kHeight - 10, x + 18, kHeight - 10, GroupColour(group), 3);
    svg.Text(x + 22, kHeight - 6, label, 11, "start");
    x += 40 + 6.5 * static_cast<double>(label.size());
  }
  return svg.Finish();
}

}  // namespace lansim
