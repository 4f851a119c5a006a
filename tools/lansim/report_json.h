// The report as one JSON document: the same content as the text report, with
// times in milliseconds and each group's spread series left out.
#pragma once

#include <nlohmann/json.hpp>

#include "tools/lansim/report.h"

namespace lansim {

nlohmann::ordered_json ReportToJson(const RunReport& report);

}  // namespace lansim
