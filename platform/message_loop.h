// Message loops and worker threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/backend.h"
#include "platform/completion_callback.h"
#include "platform/instance.h"

namespace pp {

class MessageLoop {
 public:
  MessageLoop() = default;  // null
  explicit MessageLoop(std::shared_ptr<LoopBackend> loop) : loop_(std::move(loop)) {}

  // The loop running work on the calling thread; null on a thread without one.
  static MessageLoop GetCurrent();

  bool is_null() const { return !loop_; }
  // PP_OK when queued; PP_ERROR_BADRESOURCE on a null loop; any other code
  // means the callback will not run by itself.
  int32_t PostWork(const CompletionCallback& callback, int64_t delay_ms = 0) const;
  void PostQuit() const;
  std::string name() const;
  LoopBackend* backend() const { return loop_.get(); }

  friend bool operator==(const MessageLoop& a, const MessageLoop& b) { return a.loop_ == b.loop_; }
  friend bool operator!=(const MessageLoop& a, const MessageLoop& b) { return !(a == b); }

 private:
  std::shared_ptr<LoopBackend> loop_;
};

// A worker thread that runs its own message loop. Destroying it makes the loop
// quit and joins the thread.
class SimpleThread {
 public:
  explicit SimpleThread(const InstanceHandle& instance);
  ~SimpleThread();
  SimpleThread(const SimpleThread&) = delete;
  SimpleThread& operator=(const SimpleThread&) = delete;

  bool Start();
  // Makes the loop quit and waits for the thread. Safe to call more than once.
  void Join();
  // Null when the platform could not make a loop for this thread.
  MessageLoop message_loop() const;

 private:
  std::unique_ptr<WorkerThreadBackend> thread_;
};

}  // namespace pp
