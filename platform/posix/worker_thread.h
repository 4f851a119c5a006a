// A worker thread that runs its own AsioLoop on a std::thread.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/backend.h"
#include "platform/posix/asio_loop.h"

namespace posix {

class WorkerThread final : public pp::WorkerThreadBackend {
 public:
  explicit WorkerThread(std::string name);
  // Quits the loop and joins the thread (see QuitAndJoin for the loop's own thread).
  ~WorkerThread() override;
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  std::shared_ptr<pp::LoopBackend> loop() override { return loop_; }
  // Starts the thread once. False when already started, after a quit, or when
  // the system refuses a new thread.
  bool Start() override;
  // Makes the loop quit and waits for the thread to finish. Idempotent; a
  // caller that arrives while another is joining waits for that join.
  //
  // Called from the loop's own thread (work that destroys the thread object),
  // it cannot wait for itself: the thread is detached instead. It finishes as
  // soon as the running work returns, and keeps the loop alive until then, so
  // nothing it still touches goes away under it.
  void QuitAndJoin() override;

 private:
  const std::shared_ptr<AsioLoop> loop_;
  std::mutex mutex_;
  std::condition_variable joined_;
  std::thread thread_;
  std::thread::id thread_id_;
  bool started_ = false;
  bool join_in_progress_ = false;
};

}  // namespace posix
