#include "platform/sim/loop.h"

#include <algorithm>
#include <limits>

#include "platform/pp_errors.h"
#include "platform/sim/host.h"
#include "platform/sim/lan.h"

namespace sim {

SimLoop::SimLoop(Lan& lan, Host* host, std::string name, bool started)
    : lan_(lan), host_(host), name_(std::move(name)), started_(started) {}

int32_t SimLoop::PostWork(const pp::CompletionCallback& callback, int64_t delay_ms) {
  if (quit_) return PP_ERROR_FAILED;
  if (host_) {
    const int32_t refusal = host_->faults().post_work.Check(name_);
    if (refusal != PP_OK) return refusal;
  }
  constexpr int64_t kLongestDelayMs = std::numeric_limits<int64_t>::max() / 4000;
  const int64_t delay_us = delay_ms <= 0 ? 0 : std::min(delay_ms, kLongestDelayMs) * 1000;
  Queue(delay_us, [callback] { callback.Run(PP_OK); });
  return PP_OK;
}

void SimLoop::PostQuit() {
  quit_ = true;
  waiting_for_start_.clear();
}

void SimLoop::Queue(int64_t delay_us, std::function<void()> work) {
  auto self = std::static_pointer_cast<SimLoop>(shared_from_this());
  lan_.scheduler().After(delay_us,
                         [self, work = std::move(work)]() mutable { self->Dispatch(work); });
}

void SimLoop::Dispatch(std::function<void()>& work) {
  if (!quit_ && !started_) {
    waiting_for_start_.push_back(std::move(work));
    return;
  }
  RunAsWork(work);
}

void SimLoop::RunAsWork(const std::function<void()>& work) {
  if (quit_) {
    lan_.trace().Text(lan_.now_us(), TraceKind::kDroppedWork, name_);
    return;
  }
  pp::internal::ScopedCurrentLoop current(this);
  SimLoop* const outer = lan_.running_loop();
  lan_.set_running_loop(this);
  work();
  lan_.set_running_loop(outer);
}

void SimLoop::Start() {
  if (started_ || quit_) return;
  started_ = true;
  std::vector<std::function<void()>> waiting;
  waiting.swap(waiting_for_start_);
  for (auto& work : waiting) Queue(0, std::move(work));
}

SimLoop* SimLoop::Current() {
  return dynamic_cast<SimLoop*>(pp::internal::CurrentLoop());
}

std::shared_ptr<SimLoop> SimLoop::CurrentOn(const Lan& lan) {
  // The loop the LAN is running, unless something set another current loop
  // since (then the general, slower look-up decides).
  SimLoop* loop = lan.running_loop();
  if (!loop || pp::internal::CurrentLoop() != loop) loop = Current();
  if (!loop || &loop->lan() != &lan) return nullptr;
  return std::static_pointer_cast<SimLoop>(loop->shared_from_this());
}

SimWorkerThread::SimWorkerThread(std::shared_ptr<SimLoop> loop, Host* host)
    : loop_(std::move(loop)), host_(host) {}

bool SimWorkerThread::Start() {
  if (!loop_ || loop_->started() || loop_->quit()) return false;
  if (host_ && host_->faults().start_thread.Check(loop_->name()) != PP_OK) return false;
  loop_->Start();
  return true;
}

void SimWorkerThread::QuitAndJoin() {
  if (loop_) loop_->PostQuit();
}

}  // namespace sim
