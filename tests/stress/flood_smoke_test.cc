// A short flood of both module programs in network namespaces: the behaviour
// that must hold under load, without any figure. The figures come from
// pw-flood-bench, which runs the same flood for longer.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <string>

#include "tests/stress/flood_run.h"

namespace stress {
namespace {

using std::chrono::milliseconds;

std::string Transcript(const ModuleFigures& figures) {
  std::string text = "last lines:\n";
  for (const std::string& line : figures.last_lines) text += "  " + line.substr(0, 300) + "\n";
  if (!figures.error_output.empty()) text += "stderr:\n" + figures.error_output;
  return text;
}

void ExpectEndedCleanly(const ModuleFigures& figures, const char* module) {
  SCOPED_TRACE(module);
  EXPECT_TRUE(WIFEXITED(figures.wait_status) && WEXITSTATUS(figures.wait_status) == 0)
      << "the program did not exit with status 0 after end of input; " << Transcript(figures);
  EXPECT_TRUE(figures.death_line_printed) << Transcript(figures);
  EXPECT_EQ(figures.error_output, "") << "nothing on stderr: no sanitizer report, no bad line";
}

TEST(FloodSmoke, BothModulesKeepServingTheirPagesUnderAFloodAndEndCleanly) {
  FloodPlan plan;
  plan.pacewire_host = PACEWIRE_HOST_PATH;
  plan.cuebell_host = CUEBELL_HOST_PATH;
  plan.baseline = milliseconds(500);
  plan.flood = milliseconds(2500);
  plan.after = milliseconds(1000);
  plan.patience = milliseconds(30000);  // sockets come up after 3.1 s; sanitizer builds are slow
  FloodReport report;
  std::string problem;
  switch (RunFlood(plan, &report, &problem)) {
    case FloodOutcome::kCannotMakeNamespaces:
      GTEST_SKIP() << "network namespaces are not available here: " << problem;
    case FloodOutcome::kFailed:
      FAIL() << problem;
    case FloodOutcome::kRan:
      break;
  }
  RecordProperty("report", FormatReport(plan, report));

  const PacewireFigures& pw = report.pacewire;
  EXPECT_GT(pw.flood.total_sent, 0u);
  EXPECT_GT(pw.delivered, 0u) << "the flood reached the device";
  EXPECT_GT(pw.monitoring_requests_handled, 0u) << "the device took in datagrams";
  EXPECT_GT(pw.play_time_lines_in_flood_second_half, 0u)
      << "the page kept getting its play position while the flood went on; " << Transcript(pw);
  EXPECT_GT(pw.play_time_lines_after, 0u) << "and after it; " << Transcript(pw);
  EXPECT_TRUE(pw.play_time_went_forward);
  ExpectEndedCleanly(pw, "pacewire-host");

  const CuebellFigures& cb = report.cuebell;
  EXPECT_GT(cb.flood.total_sent, 0u);
  EXPECT_GT(cb.relayed_in_flood, 0u)
      << "events reached the page during the flood; " << Transcript(cb);
  EXPECT_LE(cb.relayed_total, cb.delivered) << "at most one page message per event";
  ExpectEndedCleanly(cb, "cuebell-host");
}

}  // namespace
}  // namespace stress
