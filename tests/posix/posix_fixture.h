// The real platform for tests: a Runtime whose main loop runs on a thread of
// its own (the platform's main thread), an Embedding that records what is
// posted to the page, and ways to run code on a loop and wait for results.
//
// Waits are bounded only so that a broken platform fails instead of hanging;
// no test asserts how long anything takes.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/embedding.h"
#include "platform/posix/runtime.h"
#include "platform/pp.h"

namespace posix_test {

constexpr auto kPatience = std::chrono::seconds(10);

// Values arriving from platform threads, collected for the test thread.
template <typename T>
class Inbox {
 public:
  void Push(T value) {
    std::lock_guard<std::mutex> lock(mutex_);
    items_.push_back(std::move(value));
    arrived_.notify_all();
  }
  // Waits until at least `count` values have arrived; returns all so far.
  std::vector<T> Wait(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait_for(lock, kPatience, [&] { return items_.size() >= count; });
    return items_;
  }
  // Waits until `count` values satisfy `match`; returns whether they did.
  bool WaitFor(const std::function<bool(const T&)>& match, size_t count = 1) {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, kPatience, [&] {
      size_t matching = 0;
      for (const T& item : items_) {
        if (match(item)) ++matching;
      }
      return matching >= count;
    });
  }
  std::vector<T> items() {
    std::lock_guard<std::mutex> lock(mutex_);
    return items_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<T> items_;
};

class PosixPlatformTest : public ::testing::Test {
 protected:
  PosixPlatformTest()
      : embedding_(runtime_, [this](const pp::Var& value) { posted_.Push(value); }),
        main_thread_([this] { runtime_.RunMainLoop(); }) {}
  ~PosixPlatformTest() override {
    runtime_.QuitMainLoop();
    main_thread_.join();
  }

  // Runs `fn` as one piece of work on `loop` and waits until it has run.
  static void RunOn(const pp::MessageLoop& loop, const std::function<void()>& fn) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> ran = done->get_future();
    ASSERT_EQ(loop.PostWork(pp::CompletionCallback([fn, done](int32_t) {
      fn();
      done->set_value();
    })),
              PP_OK);
    ASSERT_EQ(ran.wait_for(kPatience), std::future_status::ready) << "loop " << loop.name();
  }
  static std::thread::id ThreadOf(const pp::MessageLoop& loop) {
    std::thread::id id;
    RunOn(loop, [&] { id = std::this_thread::get_id(); });
    return id;
  }

  // The text of every string posted to the page (the log lines), in order.
  std::vector<std::string> lines() {
    std::vector<std::string> out;
    for (const pp::Var& value : posted_.items()) {
      if (value.is_string()) out.push_back(value.AsString());
    }
    return out;
  }
  bool WaitForLine(const std::string& line) {
    return posted_.WaitFor(
        [&](const pp::Var& value) { return value.is_string() && value.AsString() == line; });
  }

  posix::Runtime runtime_;
  Inbox<pp::Var> posted_;
  posix::Embedding embedding_;

 private:
  std::thread main_thread_;
};

}  // namespace posix_test
