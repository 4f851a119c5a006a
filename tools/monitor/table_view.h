// What the monitor shows of its state: a table for a terminal, or the same as
// plain lines for a pipe or a file. Texts from the network are escaped (see
// tools/event/printable_text.h), so nothing that arrives can move the cursor.
#pragma once

#include <cstdint>
#include <string>

#include "tools/monitor/monitor_state.h"

namespace pacewire_monitor {

struct ViewMoment {
  int64_t steady_ms = 0;  // for ages and freshness
  int64_t since_start_ms = 0;
  std::string listening;  // ADDRESS:PORT the monitor receives on
};

// The table: a title line, one row per device, one row per group, and the
// count of malformed datagrams; each line ends with a newline.
std::string FormatTable(const MonitorState& state, const ViewMoment& moment);

// The same as lines "[12.3s] device ...", "[12.3s] group ...", and
// "[12.3s] malformed ..." when there were any.
std::string FormatLines(const MonitorState& state, const ViewMoment& moment);

// Moves the cursor home and clears the screen, so the next table replaces the last.
inline constexpr char kRedrawInPlace[] = "\x1b[H\x1b[J";

}  // namespace pacewire_monitor
