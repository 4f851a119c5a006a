#include "tests/sim/echo_module.h"

#include <cstdio>

namespace echo {

EchoInstance::EchoInstance(PP_Instance instance, EchoOptions options)
    : pp::Instance(instance), options_(std::move(options)), ticker_(this), socket_(this) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  std::sscanf(options_.broadcast_address.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d);
  destination_ = pp::NetAddress::FromHostOrder((a << 24) | (b << 16) | (c << 8) | d, kPort);
}

EchoInstance::~EchoInstance() {
  PostMessage(pp::Var("echo: gone"));
  ticker_.Join();
  socket_.Close();
  factory_.CancelAll();
}

bool EchoInstance::Init(uint32_t, const char*[], const char*[]) {
  ticker_.Start();
  const pp::MessageLoop ticker_loop = ticker_.message_loop();
  if (ticker_loop.is_null()) {
    PostMessage(pp::Var("ticker has no loop"));
  } else {
    ticker_loop.PostWork(factory_.NewCallback(&EchoInstance::Tick), 100);
  }
  socket_.Bind(pp::NetAddress::FromHostOrder(0, kPort),
               factory_.NewCallback(&EchoInstance::OnBound));
  PostMessage(pp::Var("echo: up"));
  return true;
}

void EchoInstance::HandleMessage(const pp::Var& message) {
  const std::string text = message.AsString();
  if (text.rfind("say ", 0) == 0) {
    Broadcast(text.substr(4));
  } else if (text == "clock") {
    PostMessage(pp::Var("clock " + std::to_string(pp::WallClockMicros(this))));
  } else if (text == "close") {
    socket_.Close();
  } else if (text == "forget") {
    factory_.CancelAll();
  }
}

void EchoInstance::Tick(int32_t) {
  ++ticks_;
  if (options_.on_tick) options_.on_tick(ticks_);
  if (options_.broadcast_on_tick)
    Broadcast("tick " + std::to_string(ticks_) + " of " + options_.label);
  ticker_.message_loop().PostWork(factory_.NewCallback(&EchoInstance::Tick), 100);
}

void EchoInstance::OnBound(int32_t result) {
  if (result != PP_OK) {
    PostMessage(pp::Var(std::string("bind failed: ") + pp::ResultName(result)));
    return;
  }
  socket_.SetOption(PP_UDPSOCKET_OPTION_BROADCAST, pp::Var(true),
                    factory_.NewCallback(&EchoInstance::OnBroadcastAllowed));
}

void EchoInstance::OnBroadcastAllowed(int32_t result) {
  if (result == PP_OK) Receive();
}

void EchoInstance::Receive() {
  socket_.RecvFrom(buffer_, sizeof buffer_,
                   factory_.NewCallbackWithOutput(&EchoInstance::OnReceived));
}

void EchoInstance::OnReceived(int32_t result, const pp::NetAddress& source) {
  if (result < 0) {
    PostMessage(pp::Var(std::string("receive failed: ") + pp::ResultName(result)));
    return;
  }
  PostMessage(pp::Var("heard " + std::string(buffer_, static_cast<size_t>(result)) + " from " +
                      source.DescribeAsString(true).AsString()));
  Receive();
}

void EchoInstance::OnSent(int32_t result) {
  if (result < 0) PostMessage(pp::Var(std::string("send failed: ") + pp::ResultName(result)));
}

void EchoInstance::Broadcast(const std::string& text) {
  socket_.SendTo(text.data(), static_cast<int32_t>(text.size()), destination_,
                 factory_.NewCallback(&EchoInstance::OnSent));
}

EchoDevice::EchoDevice(sim::Host& host, EchoOptions options)
    : host_(host), options_(std::move(options)) {
  if (options_.label.empty()) options_.label = host.address_text();
  host_.SetInstanceHooks(sim::InstanceHooks{
      [this](sim::SimEmbedding& embedding) {
        instance_ = std::make_unique<EchoInstance>(embedding.pp_instance(), options_);
        instance_->Init(0, nullptr, nullptr);
        host_.page().SetMessageHandler([this](const pp::Var& message) {
          if (instance_) instance_->HandleMessage(message);
        });
      },
      [this](sim::SimEmbedding&) { instance_.reset(); }});
}

EchoDevice::~EchoDevice() {
  host_.SetInstanceHooks({});
  host_.page().SetMessageHandler(nullptr);
}

}  // namespace echo
