// The page of one simulated device: it records every value the device's code
// posts (with the virtual time and the loop that posted it), and sends page
// messages to the device's instance at chosen virtual times, on the platform
// main-thread loop of the host's live embedding, through a handler the
// scenario supplies (typically the instance's HandleMessage).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/var.h"

namespace sim {

class Host;
class Lan;

struct PostedValue {
  pp::Var value;
  int64_t time_us = 0;
  std::string loop;  // name of the loop that posted it; "(no loop)" outside any
};

class Page {
 public:
  using MessageHandler = std::function<void(const pp::Var& message)>;
  using Observer = std::function<void(const PostedValue& posted)>;

  // `host` null: the page of no device (values posted outside any device's loop).
  Page(Lan& lan, Host* host);

  // Called by the embeddings of the LAN.
  void Record(const pp::Var& value, std::string loop);

  const std::vector<PostedValue>& posted() const { return posted_; }
  // The text values (the log lines), in order.
  std::vector<std::string> lines() const;
  // The text values that contain `part`.
  std::vector<std::string> LinesContaining(std::string_view part) const;
  // The dictionaries, in order.
  std::vector<pp::Var> dictionaries() const;
  void Clear() { posted_.clear(); }

  // Called with each value right after it is recorded, so a scenario's page
  // can react as a real page would. One observer; null removes it.
  void SetObserver(Observer observer) { observer_ = std::move(observer); }

  void SetMessageHandler(MessageHandler handler) { handler_ = std::move(handler); }
  // Delivers `message` at `time_us` (now, if past). Without a live embedding
  // or a handler at that time the message is dropped and traced.
  void SendAt(int64_t time_us, pp::Var message);
  void Send(pp::Var message);

 private:
  void Deliver(const pp::Var& message);
  std::string owner() const;

  Lan& lan_;
  Host* host_;
  std::vector<PostedValue> posted_;
  MessageHandler handler_;
  Observer observer_;
};

}  // namespace sim
