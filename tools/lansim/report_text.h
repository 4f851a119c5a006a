// The report as text a person reads at a glance: the run, each group (its
// election and its sync spread), then a table of the devices.
#pragma once

#include <string>

#include "tools/lansim/report.h"

namespace lansim {

std::string FormatTextReport(const RunReport& report);

// "3.20 s"; "12.5 ms" or "0.20 ms".
std::string FormatSeconds(int64_t us);
std::string FormatMilliseconds(int64_t us);

}  // namespace lansim
