// Instances of both modules made and destroyed over and over on the real
// backend while datagrams pour in over loopback and page messages keep
// arriving on the platform's main loop. Built under the sanitizers, this is
// where a tick, a reception or a socket completion that outlives its instance
// shows up: as a crash, a leak, a data race, or a value that reaches a page
// after the instance's death line.
//
// Network safety: every socket is on loopback. Pacewire instances get
// "SET_DEVICEIP" 127.0.0.x in the same main-loop step as Init, before their
// first tick, so their sync destination is 127.0.0.255 from the start; the
// flooder sends to 127.0.0.1 only and its set-monitoring requests name
// 127.0.0.1. No Cuebell instance ever gets "DEBUGGER", so none ever sends.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cuebell/nacl_instance.h"
#include "pacewire/nacl_instance.h"
#include "platform/posix/embedding.h"
#include "platform/posix/runtime.h"
#include "platform/pp.h"
#include "tests/stress/flooder.h"

namespace stress {
namespace {

using std::chrono::milliseconds;

enum class Module { kPacewire, kCuebell };

constexpr uint32_t kSeed = 7031;
constexpr int kCycles = 100;
constexpr int kSlots = 4;  // cycled instances alive at once, besides the two anchors
constexpr int kLongLivedEvery = 12;
constexpr int32_t kGroup = 7;
constexpr uint64_t kFloodPerSecond = 8000;
constexpr auto kPatience = std::chrono::seconds(60);

const char* DeathLine(Module module) {
  return module == Module::kPacewire ? "[ERR]: NaClInstance is dead."
                                     : "[ERR]: NaClInstance of Cuebell is dead.";
}

// The lines that closing the sockets writes during destruction itself.
bool IsSocketClosingLine(const std::string& line) {
  return line == "[LOG]: UDPSender: Closed connection." ||
         line == "[LOG]: UDPReceiver: Closed connection." ||
         line == "[ERR]: UDPSender: Not bound. No need to close." ||
         line == "[ERR]: UDPReceiver: Not bound. No need to close.";
}

// Ports free on every address right now, all different.
std::vector<uint16_t> FreeUdpPorts(size_t count) {
  std::vector<int> sockets;
  std::vector<uint16_t> ports;
  for (size_t i = 0; i < count; ++i) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "cannot find a free UDP port";
      break;
    }
    sockets.push_back(fd);
    ports.push_back(ntohs(address.sin_port));
  }
  for (int fd : sockets) close(fd);
  return ports;
}

// Everything the instances post, across every page, in one order.
class PostRecord {
 public:
  struct Page {
    uint64_t values = 0;
    uint64_t last_seq = 0;
    uint64_t last_seq_outside_own_destruction = 0;
    uint64_t play_time_messages = 0;
    uint64_t event_messages = 0;
  };
  struct Line {
    uint64_t seq;
    std::string text;
  };

  explicit PostRecord(size_t instances) : pages_(instances), destructions_(instances) {}

  // Called by instance `id`'s embedding, from whichever thread posts.
  void OnPosted(int id, const pp::Var& value) {
    std::lock_guard lock(mutex_);
    const uint64_t seq = ++seq_;
    Page& page = pages_.at(static_cast<size_t>(id));
    ++page.values;
    page.last_seq = seq;
    const bool in_own_destruction = destroying_ == id && std::this_thread::get_id() == main_thread_;
    if (!in_own_destruction) page.last_seq_outside_own_destruction = seq;
    if (value.is_dictionary()) {
      const pp::VarDictionary message(value);
      if (message.HasKey("SET_PLAYTIME")) ++page.play_time_messages;
      if (message.HasKey("EVENT_TYPE")) ++page.event_messages;
      return;
    }
    if (!value.is_string()) return;
    const std::string text = value.AsString();
    // Lines reach the page of whichever instance carries the process's log;
    // what the main thread logs while it destroys an instance belongs to that one.
    if (destroying_ >= 0 && std::this_thread::get_id() == main_thread_) {
      destructions_.at(static_cast<size_t>(destroying_)).push_back({seq, text});
    }
    if (text.rfind("[LOG]: Monitoring mode is set to", 0) == 0) ++monitoring_requests_;
    const size_t host = text.find("UDPSender: Resolving ... host name: ");
    if (host != std::string::npos) resolved_.push_back(text.substr(host));
  }

  void BeginDestruction(int id) {
    std::lock_guard lock(mutex_);
    main_thread_ = std::this_thread::get_id();
    destroying_ = id;
  }
  void EndDestruction() {
    std::lock_guard lock(mutex_);
    destroying_ = -1;
  }

  Page page(int id) const {
    std::lock_guard lock(mutex_);
    return pages_.at(static_cast<size_t>(id));
  }
  std::vector<Line> destruction(int id) const {
    std::lock_guard lock(mutex_);
    return destructions_.at(static_cast<size_t>(id));
  }
  uint64_t monitoring_requests() const {
    std::lock_guard lock(mutex_);
    return monitoring_requests_;
  }
  uint64_t event_messages() const {
    std::lock_guard lock(mutex_);
    uint64_t total = 0;
    for (const Page& page : pages_) total += page.event_messages;
    return total;
  }
  std::vector<std::string> resolved() const {
    std::lock_guard lock(mutex_);
    return resolved_;
  }

 private:
  mutable std::mutex mutex_;
  uint64_t seq_ = 0;
  int destroying_ = -1;
  std::thread::id main_thread_;
  std::vector<Page> pages_;
  std::vector<std::vector<Line>> destructions_;
  uint64_t monitoring_requests_ = 0;
  std::vector<std::string> resolved_;
};

// A flooder sending on a thread of its own until finished, at the latest when
// it goes away (so a test that stops early leaves no thread behind).
class BackgroundFlood {
 public:
  BackgroundFlood(Flooder& flooder, const DatagramPool& pool,
                  const std::vector<FloodTarget>& targets)
      : flooder_(flooder), thread_([this, pool, targets] {
          ran_ = flooder_.Run(pool, targets, std::chrono::minutes(5), kFloodPerSecond, &stats_,
                              &error_);
        }) {}
  ~BackgroundFlood() { Finish(); }

  const FloodStats& Finish() {
    if (thread_.joinable()) {
      flooder_.Stop();
      thread_.join();
    }
    return stats_;
  }
  // After Finish.
  bool ran() const { return ran_; }
  const std::string& error() const { return error_; }

 private:
  Flooder& flooder_;
  FloodStats stats_;
  bool ran_ = false;
  std::string error_;
  std::thread thread_;
};

pp::Var PageMessage(const std::string& key, const std::string& value) {
  pp::VarDictionary message;
  message.Set("key", pp::Var(key));
  message.Set("value", pp::Var(value));
  return message;
}

class DestructionUnderLoad : public testing::Test {
 protected:
  DestructionUnderLoad() : record_(kCycles + 2), main_thread_([this] { runtime_.RunMainLoop(); }) {}
  ~DestructionUnderLoad() override {
    runtime_.QuitMainLoop();
    main_thread_.join();
  }

  // Runs `step` on the platform's main loop and waits for it.
  void OnMainLoop(std::function<void()> step) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> ran = done->get_future();
    ASSERT_EQ(runtime_.main_loop().PostWork(pp::CompletionCallback([step, done](int32_t) {
      step();
      done->set_value();
    })),
              PP_OK);
    ASSERT_EQ(ran.wait_for(kPatience), std::future_status::ready) << "the main loop is stuck";
  }

  // Queues `step` on the main loop without waiting, as page messages arrive.
  void QueueOnMainLoop(std::function<void()> step) {
    runtime_.main_loop().PostWork(pp::CompletionCallback([step](int32_t) { step(); }));
  }

  // Makes instance `id` and sets it up, in one main-loop step: Init and the
  // set-up messages run before its first tick.
  void Make(int id, Module module, std::vector<pp::Var> set_up) {
    modules_[id] = module;
    embeddings_.push_back(std::make_unique<posix::Embedding>(
        runtime_, [this, id](const pp::Var& value) { record_.OnPosted(id, value); }));
    posix::Embedding* embedding = embeddings_.back().get();
    OnMainLoop([this, id, module, embedding, set_up] {
      pp::Instance* instance = module == Module::kPacewire
                                   ? pacewire_module_.CreateInstance(embedding)
                                   : cuebell_module_.CreateInstance(embedding);
      live_[id].reset(instance);
      instance->Init(0, nullptr, nullptr);
      for (const pp::Var& message : set_up) instance->HandleMessage(message);
    });
  }

  void Destroy(int id) {
    OnMainLoop([this, id] {
      record_.BeginDestruction(id);
      live_.erase(id);
      record_.EndDestruction();
    });
  }

  // A page message for `id`, handled on the main loop if the instance is
  // still there when its turn comes.
  void Send(int id, const pp::Var& message) {
    if (modules_.at(id) == Module::kCuebell) {
      // Cuebell's destination is the limited broadcast: it never sends here.
      ASSERT_NE(pp::VarDictionary(message).Get("key").AsString(), "DEBUGGER");
    }
    QueueOnMainLoop([this, id, message] {
      const auto instance = live_.find(id);
      if (instance != live_.end()) instance->second->HandleMessage(message);
    });
  }

  std::vector<pp::Var> PacewireSetUp(int id, uint16_t port, bool in_group) {
    return {PageMessage("SET_PORT", std::to_string(port)),
            PageMessage("SET_DEVICEIP", "127.0.0." + std::to_string(2 + id % 250)),
            PageMessage("SET_TOTAL_SCHEDULE_PLAYTIME", "600000"),
            PageMessage("SET_TOTAL_PLAYTIME", "60000"),
            PageMessage("START_CLOCK_WITH_SYNC_ID", in_group ? std::to_string(kGroup) : "-1")};
  }

  // Page messages of every kind the instances must take, bad ones included.
  // None changes an address; ports are only ours.
  std::vector<pp::Var> PacewireTraffic(const std::vector<uint16_t>& ports) {
    std::vector<pp::Var> messages = {
        PageMessage("SET_TOTAL_PLAYTIME", "45000"),
        PageMessage("START_CLOCK_WITH_SYNC_ID", std::to_string(kGroup)),
        PageMessage("START_CLOCK_WITH_SYNC_ID", "-1"),
        PageMessage("PLAYER_TIMESTAMP_INFO", "2024-06-01 12:00:00.000"),
        PageMessage("MOVE_PAGE_TO", "1500"),
        PageMessage("SET_ADJUST_DURATION", "99999999999999999999999"),
        PageMessage("SET_SCHEDULE_START_CLOCK", "-9223372036854775808"),
        PageMessage("SET_ELAPSED_PAGES_PLAYTIME", "1e300"),
        PageMessage("SET_PORT", "not a port"),
        PageMessage("NO_SUCH_COMMAND", "x"),
        pp::Var("a page message that is not a dictionary"),
        pp::Var(int32_t{42}),
        pp::VarArray(),
        pp::VarDictionary(),
    };
    for (uint16_t port : ports) messages.push_back(PageMessage("SET_PORT", std::to_string(port)));
    return messages;
  }
  std::vector<pp::Var> CuebellTraffic(const std::vector<uint16_t>& ports) {
    std::vector<pp::Var> messages = {
        PageMessage("EVENT_TYPE", "cue"),
        PageMessage("EVENT_TYPE", std::string(600, 'x')),
        PageMessage("SET_PORT", "not a port"),
        PageMessage("NO_SUCH_COMMAND", "x"),
        pp::Var("not a dictionary"),
        pp::Var(3.5),
        pp::VarDictionary(),
    };
    for (uint16_t port : ports) messages.push_back(PageMessage("SET_PORT", std::to_string(port)));
    return messages;
  }

  posix::Runtime runtime_;
  PostRecord record_;
  pacewire::NaClModule pacewire_module_;
  cuebell::NaClModule cuebell_module_;
  std::vector<std::unique_ptr<posix::Embedding>> embeddings_;  // outlive every instance
  std::map<int, Module> modules_;                              // test thread only
  std::map<int, std::unique_ptr<pp::Instance>> live_;          // main loop only
  std::thread main_thread_;
};

TEST_F(DestructionUnderLoad, InstancesComeAndGoWhileDatagramsAndPageMessagesPourIn) {
  // Two ports per module: the first is the anchors' own, the second shared by
  // the cycled instances (a second bind on it fails, which is a path too).
  const std::vector<uint16_t> ports = FreeUdpPorts(4);
  ASSERT_EQ(ports.size(), 4u);
  const std::vector<uint16_t> pacewire_ports = {ports[0], ports[1]};
  const std::vector<uint16_t> cuebell_ports = {ports[2], ports[3]};

  std::string error;
  const std::unique_ptr<Flooder> flooder = Flooder::Open("", &error);
  ASSERT_TRUE(flooder) << error;
  PacewireMix mix;
  mix.garbage_percent = 30;
  mix.foreign_sync_percent = 20;
  mix.group_sync_percent = 30;
  mix.set_monitoring_percent = 20;
  mix.group_sync_id = kGroup;
  mix.monitoring_address = "127.0.0.1";
  mix.monitoring_port = flooder->port();
  mix.other_port = flooder->port();
  DatagramPool pool = MakePacewirePool(mix, 1024, kSeed);
  for (PoolDatagram& event : MakeEventPool(1500, 1024, kSeed + 1)) pool.push_back(event);
  std::vector<FloodTarget> targets;
  for (uint16_t port : ports) targets.push_back({"127.0.0.1", port});

  // The anchors live throughout: the Pacewire one, made first, carries every
  // instance's log lines, so each death line can be found; both get their
  // sockets up and keep receiving the flood.
  constexpr int kPacewireAnchor = 0;
  constexpr int kCuebellAnchor = 1;
  Make(kPacewireAnchor, Module::kPacewire, PacewireSetUp(kPacewireAnchor, ports[0], true));
  Make(kCuebellAnchor, Module::kCuebell, {PageMessage("SET_PORT", std::to_string(ports[2]))});

  BackgroundFlood flood(*flooder, pool, targets);

  std::mt19937 rng(kSeed);
  const std::vector<pp::Var> pacewire_traffic = PacewireTraffic(pacewire_ports);
  const std::vector<pp::Var> cuebell_traffic = CuebellTraffic(cuebell_ports);
  struct Slot {
    int id = -1;
    std::chrono::steady_clock::time_point dies_at;
  };
  std::vector<Slot> slots(kSlots);
  int made = 0;
  auto make_next = [&](Slot& slot) {
    const int id = 2 + made;
    const bool long_lived = made % kLongLivedEvery == kLongLivedEvery - 1;
    const Module module = made % 2 == 0 ? Module::kPacewire : Module::kCuebell;
    ++made;
    const int lifetime_ms = long_lived ? std::uniform_int_distribution<int>(3300, 4500)(rng)
                                       : std::uniform_int_distribution<int>(50, 500)(rng);
    if (module == Module::kPacewire) {
      Make(id, module, PacewireSetUp(id, pacewire_ports[1], rng() % 2 == 0));
    } else {
      Make(id, module, {PageMessage("SET_PORT", std::to_string(cuebell_ports[1]))});
    }
    slot = {id, std::chrono::steady_clock::now() + milliseconds(lifetime_ms)};
  };
  for (Slot& slot : slots) make_next(slot);

  while (std::any_of(slots.begin(), slots.end(), [](const Slot& slot) { return slot.id >= 0; })) {
    if (HasFatalFailure()) break;
    std::this_thread::sleep_for(milliseconds(10));
    for (Slot& slot : slots) {
      if (slot.id < 0 || std::chrono::steady_clock::now() < slot.dies_at) continue;
      Destroy(slot.id);
      slot.id = -1;
      if (made < kCycles) make_next(slot);
    }
    // A page message for one living cycled instance each step.
    const Slot& target = slots[rng() % slots.size()];
    if (target.id >= 0) {
      const auto& traffic =
          modules_.at(target.id) == Module::kPacewire ? pacewire_traffic : cuebell_traffic;
      Send(target.id, traffic[rng() % traffic.size()]);
    }
  }

  // Both receive paths must have run before the anchors go.
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while ((record_.monitoring_requests() == 0 || record_.event_messages() == 0) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(milliseconds(50));
  }
  Destroy(kCuebellAnchor);
  Destroy(kPacewireAnchor);
  const FloodStats& sent = flood.Finish();
  ASSERT_TRUE(flood.ran()) << flood.error();

  EXPECT_EQ(made, kCycles);
  EXPECT_GT(sent.total_sent, 0u);
  EXPECT_GT(record_.monitoring_requests(), 0u) << "Pacewire took in datagrams";
  EXPECT_GT(record_.event_messages(), 0u) << "Cuebell relayed datagrams to its page";
  RecordProperty("datagrams_sent", std::to_string(sent.total_sent));
  RecordProperty("set_monitoring_requests_handled", std::to_string(record_.monitoring_requests()));
  RecordProperty("events_relayed", std::to_string(record_.event_messages()));

  for (int id = 0; id < 2 + made; ++id) {
    SCOPED_TRACE("instance " + std::to_string(id));
    const Module module = modules_.at(id);
    const std::vector<PostRecord::Line> destruction = record_.destruction(id);
    ASSERT_FALSE(destruction.empty()) << "no death line logged while it was destroyed";
    EXPECT_EQ(destruction.front().text, DeathLine(module)) << "the first line of its destruction";
    for (size_t k = 1; k < destruction.size(); ++k) {
      EXPECT_TRUE(IsSocketClosingLine(destruction[k].text))
          << "after the death line, only the sockets closing: " << destruction[k].text;
    }
    // Its own page got nothing after its death line but what destruction
    // itself wrote, and nothing at all once it was gone.
    const PostRecord::Page page = record_.page(id);
    EXPECT_LT(page.last_seq_outside_own_destruction, destruction.front().seq)
        << "a value reached its page after its death line";
    EXPECT_LE(page.last_seq, destruction.back().seq);
  }
  // The anchor carried the log: the last value it posted is its death line,
  // or a socket closing after it, in its own destruction.
  EXPECT_EQ(record_.page(kPacewireAnchor).last_seq,
            record_.destruction(kPacewireAnchor).back().seq);

  // The test's own safety: Pacewire senders were only ever made for loopback.
  for (const std::string& resolved : record_.resolved()) {
    const bool cuebell_default =
        resolved.find("host name: 255.255.255.255, port: 55555") != std::string::npos;
    EXPECT_TRUE(cuebell_default || resolved.find("host name: 127.") != std::string::npos)
        << resolved;
  }
}

}  // namespace
}  // namespace stress
