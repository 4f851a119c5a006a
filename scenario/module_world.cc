#include "scenario/module_world.h"

#include "common/logger.h"
#include "cuebell/nacl_instance.h"
#include "pacewire/nacl_instance.h"

namespace scenario {

std::vector<std::string> ModuleWorkerNames() {
  return {"receivingThread", "mainThread"};
}

namespace {
std::unique_ptr<pp::Module> MakeModule(ModuleKind kind) {
  if (kind == ModuleKind::kPacewire) return std::make_unique<pacewire::NaClModule>();
  return std::make_unique<cuebell::NaClModule>();
}

pp::VarDictionary Command(const std::string& key, const std::string& value) {
  pp::VarDictionary message;
  message.Set("key", pp::Var(key));
  message.Set("value", pp::Var(value));
  return message;
}
}  // namespace

Device::Device(sim::Host& host, ModuleKind kind)
    : host_(host), kind_(kind), module_(MakeModule(kind)) {
  host_.SetInstanceHooks({[this](sim::SimEmbedding& embedding) { Start(embedding); },
                          [this](sim::SimEmbedding& embedding) { Stop(embedding); }});
  host_.page().SetMessageHandler([this](const pp::Var& message) {
    if (instance_) instance_->HandleMessage(message);
  });
}

Device::~Device() {
  host_.SetInstanceHooks({});
  host_.page().SetMessageHandler(nullptr);
}

void Device::Start(sim::SimEmbedding& embedding) {
  instance_.reset(module_->CreateInstance(&embedding));
  ++instances_started_;
  instance_->Init(0, nullptr, nullptr);
}

void Device::Stop(sim::SimEmbedding&) {
  instance_.reset();
}

void Device::Send(const std::string& key, const std::string& value) {
  host_.page().Send(Command(key, value));
}

void Device::SendAt(int64_t time_us, const std::string& key, const std::string& value) {
  host_.page().SendAt(time_us, Command(key, value));
}

void Device::DestroyInstanceNow() {
  sim::SimEmbedding* embedding = host_.embedding();
  if (!embedding || !instance_) return;
  bool done = false;
  embedding->RunOnMainLoop([&] {
    instance_.reset();
    done = true;
  });
  host_.lan().RunUntil([&] { return done; }, 0);
}

ModuleWorld::ModuleWorld(sim::LanOptions options)
    : lan_(std::make_unique<sim::Lan>(std::move(options))) {
  Logger::InitializeInstance(&lan_->anchor_instance());
}

ModuleWorld::~ModuleWorld() {
  for (auto& device : devices_) device->DestroyInstanceNow();
  devices_.clear();
  Logger::ForgetInstance(&lan_->anchor_instance());
  lan_.reset();
}

Device& ModuleWorld::AddDevice(sim::HostOptions options, ModuleKind kind) {
  if (options.worker_names.empty()) options.worker_names = ModuleWorkerNames();
  sim::Host& host = lan_->AddHost(std::move(options));
  devices_.push_back(std::make_unique<Device>(host, kind));
  host.StartInstance();
  return *devices_.back();
}

Device& ModuleWorld::AddDevice(const std::string& address, ModuleKind kind) {
  sim::HostOptions options;
  options.address = address;
  return AddDevice(std::move(options), kind);
}

Device* ModuleWorld::FindDevice(const std::string& address) const {
  for (const auto& device : devices_) {
    if (device->address() == address) return device.get();
  }
  return nullptr;
}

}  // namespace scenario
