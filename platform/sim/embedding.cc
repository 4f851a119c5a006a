#include "platform/sim/embedding.h"

#include <algorithm>

#include "platform/pp_errors.h"
#include "platform/sim/host.h"
#include "platform/sim/lan.h"
#include "platform/sim/loop.h"
#include "platform/sim/resolver.h"
#include "platform/sim/socket.h"

namespace sim {
namespace {
// Forgets the entries whose objects are gone once the list has doubled, so
// that a long run that keeps making sockets keeps a short list.
template <typename T>
void RememberWeakly(std::vector<std::weak_ptr<T>>& list, const std::shared_ptr<T>& item) {
  if (list.size() >= 16 && list.size() == list.capacity()) {
    list.erase(std::remove_if(list.begin(), list.end(), [](auto& weak) { return weak.expired(); }),
               list.end());
  }
  list.push_back(item);
}
}  // namespace

SimEmbedding::SimEmbedding(Lan& lan, Host* host, std::string label,
                           std::vector<std::string> worker_names)
    : lan_(lan), host_(host), label_(std::move(label)), worker_names_(std::move(worker_names)) {
  if (host_) {
    main_loop_ = std::make_shared<SimLoop>(lan_, host_, label_ + " platform-main", true);
  }
}

SimEmbedding::~SimEmbedding() = default;

void SimEmbedding::PostMessage(const pp::Var& message) {
  SimLoop* loop = SimLoop::Current();
  if (loop && &loop->lan() == &lan_ && loop->host()) {
    loop->host()->page().Record(message, loop->name());
    return;
  }
  Page& page = host_ ? host_->page() : lan_.unrouted_page();
  page.Record(message, "(no loop)");
}

std::unique_ptr<pp::WorkerThreadBackend> SimEmbedding::CreateWorkerThread() {
  if (!host_) return nullptr;
  ++workers_made_;
  std::string name = label_ + " ";
  if (workers_made_ <= worker_names_.size()) {
    name += worker_names_[workers_made_ - 1];
  } else {
    name += "worker" + std::to_string(workers_made_);
  }
  std::shared_ptr<SimLoop> loop;
  if (!removed_ && host_->faults().create_message_loop.Check(name) == PP_OK) {
    loop = std::make_shared<SimLoop>(lan_, host_, std::move(name), false);
    RememberWeakly(loops_, loop);
  }
  return std::make_unique<SimWorkerThread>(std::move(loop), host_);
}

std::shared_ptr<pp::UDPSocketBackend> SimEmbedding::CreateUDPSocket() {
  if (!host_ || removed_ || host_->faults().create_socket.Check() != PP_OK) return nullptr;
  auto socket = std::make_shared<SimSocket>(lan_, *host_);
  RememberWeakly(sockets_, socket);
  return socket;
}

std::shared_ptr<pp::HostResolverBackend> SimEmbedding::CreateHostResolver() {
  if (!host_ || removed_ || host_->faults().create_resolver.Check() != PP_OK) return nullptr;
  return std::make_shared<SimResolver>(lan_, *host_);
}

int64_t SimEmbedding::WallClockMicros() {
  if (host_) return host_->WallClockMicros();
  SimLoop* loop = SimLoop::Current();
  if (loop && &loop->lan() == &lan_ && loop->host()) return loop->host()->WallClockMicros();
  return lan_.options().wall_clock_epoch_us + lan_.now_us();
}

void SimEmbedding::RunOnMainLoop(std::function<void()> work, int64_t delay_us) {
  if (main_loop_) main_loop_->Queue(delay_us, std::move(work));
}

void SimEmbedding::Shutdown() {
  removed_ = true;
  if (main_loop_) main_loop_->PostQuit();
  for (auto& weak : loops_) {
    if (auto loop = weak.lock()) loop->PostQuit();
  }
  for (auto& weak : sockets_) {
    if (auto socket = weak.lock()) socket->Close();
  }
  loops_.clear();
  sockets_.clear();
}

}  // namespace sim
