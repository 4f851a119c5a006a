// Completion callbacks and the factory that binds them to an object.
//
// A callback is a copyable handle on one handler. Run(result) calls the handler
// at once on the calling thread. Callbacks made by a CompletionCallbackFactory
// do nothing once the factory has been destroyed (or CancelAll was called), and
// the factory's destruction waits for handlers already running on other
// threads, so a handler never runs on a half-destroyed object.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace pp {

class CompletionCallback {
 public:
  CompletionCallback() = default;  // empty: Run does nothing
  explicit CompletionCallback(std::function<void(int32_t)> handler)
      : handler_(std::make_shared<std::function<void(int32_t)>>(std::move(handler))) {}

  bool IsEmpty() const { return !handler_; }
  void Run(int32_t result) const {
    if (handler_) (*handler_)(result);
  }

 private:
  std::shared_ptr<std::function<void(int32_t)>> handler_;
};

// A callback with an output slot: the operation writes its output through
// output() before it runs the callback, and the handler receives it.
template <typename T>
class CompletionCallbackWithOutput {
 public:
  CompletionCallbackWithOutput() = default;
  explicit CompletionCallbackWithOutput(std::function<void(int32_t, const T&)> handler)
      : state_(std::make_shared<State>(State{std::move(handler), T()})) {}

  bool IsEmpty() const { return !state_; }
  // Where the operation writes its output; null for an empty callback.
  T* output() const { return state_ ? &state_->output : nullptr; }
  void Run(int32_t result) const {
    if (state_) state_->handler(result, state_->output);
  }

 private:
  struct State {
    std::function<void(int32_t, const T&)> handler;
    T output;
  };
  std::shared_ptr<State> state_;
};

struct ThreadSafeThreadTraits {};
struct NonThreadSafeThreadTraits {};

namespace internal {

// The factory's link to its object, shared with every callback it made.
class CallbackAnchor {
 public:
  explicit CallbackAnchor(void* object) : object_(object) {}

  // Calls fn(object) unless the anchor was cancelled; returns whether it ran.
  template <typename Fn>
  bool RunIfAlive(Fn&& fn) {
    void* object;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      object = object_;
      if (!object) return false;
      running_.push_back(std::this_thread::get_id());
    }
    struct Leave {
      CallbackAnchor* anchor;
      ~Leave() { anchor->LeaveRun(); }
    } leave{this};
    fn(object);
    return true;
  }

  // Stops later runs and waits for runs in progress on other threads. A run on
  // the calling thread (a handler that destroys its own object) is not waited for.
  void Cancel() {
    std::unique_lock<std::mutex> lock(mutex_);
    object_ = nullptr;
    const auto self = std::this_thread::get_id();
    idle_.wait(lock, [&] {
      return std::all_of(running_.begin(), running_.end(), [&](auto id) { return id == self; });
    });
  }

 private:
  void LeaveRun() {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find(running_.begin(), running_.end(), std::this_thread::get_id());
    if (it != running_.end()) running_.erase(it);
    idle_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable idle_;
  void* object_;
  std::vector<std::thread::id> running_;
};

}  // namespace internal

template <typename T, typename ThreadTraits = ThreadSafeThreadTraits>
class CompletionCallbackFactory {
 public:
  explicit CompletionCallbackFactory(T* object = nullptr) { Initialize(object); }
  ~CompletionCallbackFactory() { CancelAll(); }
  CompletionCallbackFactory(const CompletionCallbackFactory&) = delete;
  CompletionCallbackFactory& operator=(const CompletionCallbackFactory&) = delete;

  void Initialize(T* object) {
    CancelAll();
    object_ = object;
    anchor_ = std::make_shared<internal::CallbackAnchor>(object);
  }
  T* GetObject() const { return object_; }

  // Every callback made so far does nothing from now on.
  void CancelAll() {
    if (anchor_) anchor_->Cancel();
    anchor_.reset();
  }

  // A callback for `void T::method(int32_t result, Extra...)`, the extra arguments bound now.
  template <typename... Params, typename... Args>
  CompletionCallback NewCallback(void (T::*method)(int32_t, Params...), Args&&... args) {
    std::weak_ptr<internal::CallbackAnchor> weak = anchor_;
    auto bound = std::make_tuple(std::decay_t<Params>(std::forward<Args>(args))...);
    return CompletionCallback([weak, method, bound](int32_t result) {
      if (auto anchor = weak.lock()) {
        anchor->RunIfAlive([&](void* object) {
          std::apply(
              [&](const auto&... extra) { (static_cast<T*>(object)->*method)(result, extra...); },
              bound);
        });
      }
    });
  }

  // A callback for `void T::method(int32_t result, const Output& output, Extra...)`.
  template <typename Output, typename... Params, typename... Args>
  CompletionCallbackWithOutput<Output> NewCallbackWithOutput(
      void (T::*method)(int32_t, const Output&, Params...), Args&&... args) {
    std::weak_ptr<internal::CallbackAnchor> weak = anchor_;
    auto bound = std::make_tuple(std::decay_t<Params>(std::forward<Args>(args))...);
    return CompletionCallbackWithOutput<Output>(
        [weak, method, bound](int32_t result, const Output& output) {
          if (auto anchor = weak.lock()) {
            anchor->RunIfAlive([&](void* object) {
              std::apply(
                  [&](const auto&... extra) {
                    (static_cast<T*>(object)->*method)(result, output, extra...);
                  },
                  bound);
            });
          }
        });
  }

 private:
  T* object_ = nullptr;
  std::shared_ptr<internal::CallbackAnchor> anchor_;
};

}  // namespace pp
