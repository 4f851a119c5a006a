// An SVG chart of a run: each group's sync spread over virtual time, with the
// moments its roles changed, when it settled, and what the scenario did to the
// LAN (partitions, restarts, clock steps).
#pragma once

#include <string>

#include "tools/lansim/report.h"

namespace lansim {

std::string DrawSpreadPlot(const RunReport& report);

}  // namespace lansim
