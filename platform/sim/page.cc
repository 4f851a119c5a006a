#include "platform/sim/page.h"

#include "platform/sim/embedding.h"
#include "platform/sim/host.h"
#include "platform/sim/lan.h"
#include "platform/sim/loop.h"

namespace sim {

Page::Page(Lan& lan, Host* host) : lan_(lan), host_(host) {}

std::string Page::owner() const {
  return host_ ? host_->address_text() : "(no device)";
}

void Page::Record(const pp::Var& value, std::string loop) {
  if (lan_.trace().mode() != Trace::Mode::kOff) {
    lan_.trace().Text(lan_.now_us(), TraceKind::kPost,
                      "page " + owner() + " <- " + loop + ": " + value.DebugString());
  }
  posted_.push_back(PostedValue{value, lan_.now_us(), std::move(loop)});
  if (observer_) {
    const PostedValue posted = posted_.back();  // the observer may record or clear
    observer_(posted);
  }
}

std::vector<std::string> Page::lines() const {
  std::vector<std::string> out;
  for (const auto& posted : posted_) {
    if (posted.value.is_string()) out.push_back(posted.value.AsString());
  }
  return out;
}

std::vector<std::string> Page::LinesContaining(std::string_view part) const {
  std::vector<std::string> out;
  for (auto& line : lines()) {
    if (line.find(part) != std::string::npos) out.push_back(std::move(line));
  }
  return out;
}

std::vector<pp::Var> Page::dictionaries() const {
  std::vector<pp::Var> out;
  for (const auto& posted : posted_) {
    if (posted.value.is_dictionary()) out.push_back(posted.value);
  }
  return out;
}

void Page::SendAt(int64_t time_us, pp::Var message) {
  lan_.scheduler().At(time_us, [this, message = std::move(message)] { Deliver(message); });
}

void Page::Send(pp::Var message) {
  SendAt(lan_.now_us(), std::move(message));
}

void Page::Deliver(const pp::Var& message) {
  SimEmbedding* embedding = host_ ? host_->embedding() : nullptr;
  if (!embedding || !handler_) {
    lan_.trace().Text(lan_.now_us(), TraceKind::kPageMessage,
                      "page " + owner() + " -> (no instance, dropped): " + message.DebugString());
    return;
  }
  embedding->main_loop()->Queue(0, [this, message, handler = handler_] {
    lan_.trace().Text(lan_.now_us(), TraceKind::kPageMessage,
                      "page " + owner() + " -> instance: " + message.DebugString());
    handler(message);
  });
}

}  // namespace sim
