// The page-message envelope ({"key": command name, "value": argument text}) and
// the command table shared by both modules.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/var.h"

// Command numbers. The values are fixed: they appear in log lines posted to the page.
enum NaClCommand : int32_t {
  kUnknownCommand = -1,
  SET_TOTAL_PLAYTIME = 0,
  STOP_CLOCK = 1,
  CREATE_RECEIVER = 2,
  CREATE_SENDER = 3,
  BROADCAST_PLAYTIME = 4,
  SET_PORT = 5,
  SET_PLAYTIME = 6,
  SET_SYNC_ID = 7,
  START_CLOCK_WITH_SYNC_ID = 8,
  SET_TOTAL_SCHEDULE_PLAYTIME = 9,
  CLOSE_RECEIVER = 10,
  PLAYER_TIMESTAMP_INFO = 11,
  START_MONITORING = 12,
  DEBUGGER = 13,
  SET_DEVICEIP = 14,
  SET_ADJUST_DURATION = 15,
  EVENT_TYPE = 16,
  SET_SEND_PORT = 17,
  MOVE_PAGE_TO = 18,
  SET_SCHEDULE_START_CLOCK = 19,
  SET_ELAPSED_PAGES_PLAYTIME = 20,
};

class NaClMessage {
 public:
  NaClMessage();
  ~NaClMessage();
  // The number of `name` (exact, case-sensitive), or -1 when it is not in the table.
  int ParseCommandEnum(const std::string& name) const;

 private:
  std::map<std::string, int32_t> commands_;
};

// The text of entry `key` of a page message; empty when the message is not a
// dictionary, the entry is missing or it is not text.
std::string GetMessageText(const pp::Var& message, const std::string& key);

// The command number of a page message, with its "[%2d: %s] %s" log line
// (every command but PLAYER_TIMESTAMP_INFO is logged).
int GetMessageType(pp::VarDictionary message);
