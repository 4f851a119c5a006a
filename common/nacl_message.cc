#include "common/nacl_message.h"

#include "common/logger.h"

NaClMessage::NaClMessage() {
  commands_.insert({"SET_TOTAL_PLAYTIME", 0});
  commands_.insert({"STOP_CLOCK", 1});
  commands_.insert({"CREATE_RECEIVER", 2});
  commands_.insert({"CREATE_SENDER", 3});
  commands_.insert({"BROADCAST_PLAYTIME", 4});
  commands_.insert({"SET_PORT", 5});
  commands_.insert({"SET_PLAYTIME", 6});
  commands_.insert({"SET_SYNC_ID", 7});
  commands_.insert({"START_CLOCK_WITH_SYNC_ID", 8});
  commands_.insert({"SET_TOTAL_SCHEDULE_PLAYTIME", 9});
  commands_.insert({"CLOSE_RECEIVER", 10});
  commands_.insert({"PLAYER_TIMESTAMP_INFO", 11});
  commands_.insert({"START_MONITORING", 12});
  commands_.insert({"DEBUGGER", 13});
  commands_.insert({"SET_DEVICEIP", 14});
  commands_.insert({"SET_ADJUST_DURATION", 15});
  commands_.insert({"EVENT_TYPE", 16});
  commands_.insert({"SET_SEND_PORT", 17});
  commands_.insert({"MOVE_PAGE_TO", 18});
  commands_.insert({"SET_SCHEDULE_START_CLOCK", 19});
  commands_.insert({"SET_ELAPSED_PAGES_PLAYTIME", 20});
}

NaClMessage::~NaClMessage() = default;

int NaClMessage::ParseCommandEnum(const std::string& name) const {
  auto it = commands_.find(name);
  return it == commands_.end() ? kUnknownCommand : it->second;
}

std::string GetMessageText(const pp::Var& message, const std::string& key) {
  if (!message.is_dictionary()) return std::string();
  return pp::VarDictionary(message).Get(key).AsString();
}

int GetMessageType(pp::VarDictionary message) {
  const NaClMessage table;
  const int command = table.ParseCommandEnum(GetMessageText(message, "key"));
  if (command != PLAYER_TIMESTAMP_INFO) {
    Logger::Log("[%2d: %s] %s", command, GetMessageText(message, "key").c_str(),
                GetMessageText(message, "value").c_str());
  }
  return command;
}
