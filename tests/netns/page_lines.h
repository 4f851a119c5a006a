// Reading and writing the embedder programs' page channel: one JSON value per
// line, page messages in, posted values out.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace netns {

// One page message line: {"key":...,"value":...}.
inline std::string PageMessage(std::string_view key, std::string_view value) {
  return nlohmann::json{{"key", key}, {"value", value}}.dump();
}

// The text of a posted log line (a JSON string); nothing for other lines.
inline std::optional<std::string> PostedText(const std::string& line) {
  const nlohmann::json value = nlohmann::json::parse(line, nullptr, false);
  if (!value.is_string()) return std::nullopt;
  return value.get<std::string>();
}

inline bool IsPostedText(const std::string& line, std::string_view text) {
  const std::optional<std::string> posted = PostedText(line);
  return posted && *posted == text;
}

// The text under `key` of a posted dictionary; nothing when the line is not a
// dictionary with that entry as a text.
inline std::optional<std::string> PostedEntry(const std::string& line, const std::string& key) {
  const nlohmann::json value = nlohmann::json::parse(line, nullptr, false);
  if (!value.is_object()) return std::nullopt;
  const auto entry = value.find(key);
  if (entry == value.end() || !entry->is_string()) return std::nullopt;
  return entry->get<std::string>();
}

}  // namespace netns
