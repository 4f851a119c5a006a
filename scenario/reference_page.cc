#include "scenario/reference_page.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace scenario {
namespace {

constexpr char kParentLine[] = "Device is set to parent";
constexpr char kChildLine[] = "Device is set to child";

// A whole decimal integer, sign allowed; nothing else.
std::optional<int64_t> ParseDecimal(const std::string& text) {
  int64_t value = 0;
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (begin != end && *begin == '+') return std::nullopt;
  const auto [stop, error] = std::from_chars(begin, end, value);
  if (error != std::errc() || stop != end || begin == end) return std::nullopt;
  return value;
}

bool EndsWith(const std::string& text, const std::string_view tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

const char* DeviceRoleName(DeviceRole role) {
  switch (role) {
    case DeviceRole::kDown:
      return "down";
    case DeviceRole::kChild:
      return "child";
    case DeviceRole::kParent:
      return "parent";
  }
  return "?";
}

ReferencePage::ReferencePage(Device& device, int32_t sync_id, std::vector<int64_t> schedule_ms)
    : device_(device), sync_id_(sync_id), schedule_ms_(std::move(schedule_ms)) {
  if (schedule_ms_.empty()) throw std::invalid_argument("ReferencePage: empty frame schedule");
  for (const int64_t duration : schedule_ms_) {
    schedule_total_ms_ += duration;
    page_ends_ms_.push_back(schedule_total_ms_);
  }
  if (device_.instance()) role_ = DeviceRole::kChild;
  device_.page().SetObserver([this](const sim::PostedValue& posted) { OnPosted(posted); });
}

ReferencePage::~ReferencePage() {
  device_.page().SetObserver(nullptr);
}

size_t ReferencePage::PageIndexAt(int64_t position_ms) const {
  // A play time equal to the page's duration is still within that page, as
  // the module counts it.
  const auto it = std::lower_bound(page_ends_ms_.begin(), page_ends_ms_.end(), position_ms);
  if (it == page_ends_ms_.end()) return page_ends_ms_.size() - 1;
  return static_cast<size_t>(it - page_ends_ms_.begin());
}

std::optional<int64_t> ReferencePage::position_ms() const {
  if (samples_.empty()) return std::nullopt;
  return samples_.back().position_ms;
}

std::optional<int64_t> ReferencePage::position_time_us() const {
  if (samples_.empty() || !samples_.back().position_ms) return std::nullopt;
  return samples_.back().time_us;
}

void ReferencePage::DeviceDown() {
  const int64_t now = device_.host().lan().now_us();
  play_time_ms_.reset();
  elapsed_pages_ms_.reset();
  if (!samples_.empty() && samples_.back().position_ms) samples_.push_back({now, std::nullopt});
  SetRole(DeviceRole::kDown, now, false);
}

void ReferencePage::OnPosted(const sim::PostedValue& posted) {
  if (posted.value.is_dictionary()) {
    ++counts_.dictionaries_received;
    OnDictionary(posted.value, posted.time_us);
  } else if (posted.value.is_string()) {
    ++counts_.log_lines_received;
    OnLogLine(posted.value.AsString(), posted.time_us);
  } else {
    ++counts_.other_values_received;
  }
}

void ReferencePage::OnDictionary(const pp::Var& value, int64_t time_us) {
  const pp::VarDictionary message(value);
  if (message.HasKey("VERSION")) StartSchedule(time_us);
  // A device that is down says nothing; whatever its dying instance still
  // posts is not the page's to follow.
  if (role_ == DeviceRole::kDown) return;
  if (message.HasKey("REQUEST_DEVICE_IP")) {
    ++counts_.device_ip_requests;
    Send("SET_DEVICEIP", device_.address());
  }

  bool told = false;
  const auto take = [&](const char* key, std::optional<int64_t>& field) {
    if (!message.HasKey(key)) return;
    const pp::Var entry = message.Get(key);
    const auto number = entry.is_string() ? ParseDecimal(entry.AsString()) : std::nullopt;
    if (!number) {
      ++counts_.unreadable_numbers;
      return;
    }
    field = number;
    told = true;
  };
  take("SET_PLAYTIME", play_time_ms_);
  take("SET_ELAPSED_PAGES_PLAYTIME", elapsed_pages_ms_);
  if (!told) return;
  ++counts_.play_time_messages;
  if (!play_time_ms_ || !elapsed_pages_ms_) return;

  // Wrapping addition: the module passes on whatever numbers it holds.
  const int64_t position = static_cast<int64_t>(static_cast<uint64_t>(*elapsed_pages_ms_) +
                                                static_cast<uint64_t>(*play_time_ms_));
  samples_.push_back({time_us, position});
  const size_t index = PageIndexAt(position);
  if (index != page_index_) {
    page_index_ = index;
    ++counts_.page_changes;
    Send("SET_TOTAL_PLAYTIME", std::to_string(schedule_ms_[index]));
  }
}

void ReferencePage::OnLogLine(const std::string& line, int64_t time_us) {
  if (role_ == DeviceRole::kDown) return;
  if (EndsWith(line, kParentLine)) {
    SetRole(DeviceRole::kParent, time_us, true);
  } else if (EndsWith(line, kChildLine)) {
    SetRole(DeviceRole::kChild, time_us, true);
  }
}

void ReferencePage::StartSchedule(int64_t time_us) {
  ++counts_.starts;
  play_time_ms_.reset();
  elapsed_pages_ms_.reset();
  if (!samples_.empty() && samples_.back().position_ms) {
    samples_.push_back({time_us, std::nullopt});
  }
  // A fresh instance is a child, whatever the previous one was.
  SetRole(DeviceRole::kChild, time_us, false);
  page_index_ = 0;
  Send("SET_TOTAL_SCHEDULE_PLAYTIME", std::to_string(schedule_total_ms_));
  Send("SET_TOTAL_PLAYTIME", std::to_string(schedule_ms_[0]));
  Send("START_CLOCK_WITH_SYNC_ID", std::to_string(sync_id_));
}

void ReferencePage::Send(const std::string& key, const std::string& value) {
  ++counts_.messages_sent;
  device_.Send(key, value);
}

void ReferencePage::SetRole(DeviceRole role, int64_t time_us, bool announced) {
  if (role == role_ && !announced) return;
  role_ = role;
  role_events_.push_back({time_us, role, announced});
}

}  // namespace scenario
