#include "platform/posix/worker_thread.h"

#include <system_error>
#include <utility>

namespace posix {

WorkerThread::WorkerThread(std::string name) : loop_(std::make_shared<AsioLoop>(std::move(name))) {}

WorkerThread::~WorkerThread() {
  QuitAndJoin();
}

bool WorkerThread::Start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (started_ || loop_->has_quit()) return false;
  try {
    // The thread owns a reference to the loop: a detached thread keeps it alive.
    thread_ = std::thread([loop = loop_] { loop->Run(); });
  } catch (const std::system_error&) {
    return false;
  }
  thread_id_ = thread_.get_id();
  started_ = true;
  return true;
}

void WorkerThread::QuitAndJoin() {
  loop_->PostQuit();
  std::unique_lock<std::mutex> lock(mutex_);
  const bool on_own_thread = started_ && thread_id_ == std::this_thread::get_id();
  if (on_own_thread) {
    if (thread_.joinable()) thread_.detach();
    return;
  }
  if (!thread_.joinable()) {
    joined_.wait(lock, [this] { return !join_in_progress_; });
    return;
  }
  std::thread joining = std::move(thread_);
  join_in_progress_ = true;
  lock.unlock();
  joining.join();
  lock.lock();
  join_in_progress_ = false;
  joined_.notify_all();
}

}  // namespace posix
