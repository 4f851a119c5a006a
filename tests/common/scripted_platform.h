// A platform whose sockets and resolvers answer from a script, and whose one
// message loop runs only when the test pumps it, on the test's own thread.
// It lets a test decide the result of every step, and the order in which
// completions arrive relative to the calls it makes.
//
// Completions behave as on a real platform: none runs inside the call that
// started its operation; each is queued on the loop that was current then
// and runs when the test calls RunUntilIdle. Sends complete with the script's
// result at once (queued); a receive stays pending until the test delivers a
// datagram or an error to it.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/pp.h"

namespace scripted {

class ManualLoop : public pp::LoopBackend {
 public:
  // Delays are not kept: work runs in the order it was posted.
  int32_t PostWork(const pp::CompletionCallback& callback, int64_t) override {
    if (!quit_) queue_.push_back(callback);
    return PP_OK;
  }
  void PostQuit() override {
    quit_ = true;
    queue_.clear();
  }
  std::string name() const override { return "scripted"; }

  // Runs queued work, and work queued meanwhile, until none is left.
  void RunUntilIdle() {
    pp::internal::ScopedCurrentLoop current(this);
    while (!queue_.empty()) {
      pp::CompletionCallback next = queue_.front();
      queue_.pop_front();
      next.Run(PP_OK);
    }
  }

 private:
  bool quit_ = false;
  std::deque<pp::CompletionCallback> queue_;
};

// Queues `callback` with `result` on the caller's loop.
inline void CompleteLater(const pp::CompletionCallback& callback, int32_t result) {
  pp::MessageLoop::GetCurrent().PostWork(
      pp::CompletionCallback([callback, result](int32_t) { callback.Run(result); }));
}

// How the sockets made from now on answer.
struct SocketScript {
  int32_t bind_returns = PP_OK_COMPLETIONPENDING;  // anything else: refused, no completion
  int32_t bind_result = PP_OK;
  int32_t set_option_result = PP_OK;
  int32_t send_returns = PP_OK_COMPLETIONPENDING;  // anything else: refused, no completion
  std::optional<int32_t> send_result;              // default: the byte count
};

struct Sent {
  std::string bytes;
  pp::NetAddress to;
};

// Everything a socket was asked to do, kept after the socket is released.
struct SocketRecord {
  SocketScript script;
  std::optional<pp::NetAddress> bound_to;
  std::vector<std::pair<int32_t, pp::Var>> options;
  std::vector<Sent> sent;
  int receives_started = 0;
  bool closed = false;
  bool released = false;

  // The receive still waiting for a datagram.
  struct Receive {
    char* buffer;
    int32_t capacity;
    pp::CompletionCallbackWithOutput<pp::NetAddress> callback;
    pp::MessageLoop loop;
  };
  std::optional<Receive> pending_receive;

  // Completes the pending receive with `bytes` (cut to its capacity), even on
  // a closed socket: the datagram was taken in before the close.
  void Deliver(const std::string& bytes) {
    Receive receive = TakeReceive();
    const int32_t count = std::min<int32_t>(static_cast<int32_t>(bytes.size()), receive.capacity);
    receive.loop.PostWork(pp::CompletionCallback([receive, bytes, count](int32_t) {
      std::memcpy(receive.buffer, bytes.data(), static_cast<size_t>(count));
      *receive.callback.output() = pp::NetAddress::FromHostOrder(0x0A000063, 5000);
      receive.callback.Run(count);
    }));
  }
  void FailReceive(int32_t code) {
    Receive receive = TakeReceive();
    receive.loop.PostWork(
        pp::CompletionCallback([receive, code](int32_t) { receive.callback.Run(code); }));
  }

 private:
  Receive TakeReceive() {
    Receive receive = std::move(*pending_receive);
    pending_receive.reset();
    return receive;
  }
};

class ScriptedSocket : public pp::UDPSocketBackend {
 public:
  explicit ScriptedSocket(std::shared_ptr<SocketRecord> record) : record_(std::move(record)) {}
  ~ScriptedSocket() override {
    Close();
    record_->released = true;
  }

  int32_t Bind(const pp::NetAddress& address, const pp::CompletionCallback& callback) override {
    record_->bound_to = address;
    if (record_->script.bind_returns != PP_OK_COMPLETIONPENDING)
      return record_->script.bind_returns;
    CompleteLater(callback, record_->script.bind_result);
    return PP_OK_COMPLETIONPENDING;
  }
  int32_t SetOption(int32_t name, const pp::Var& value,
                    const pp::CompletionCallback& callback) override {
    record_->options.emplace_back(name, value);
    CompleteLater(callback, record_->script.set_option_result);
    return PP_OK_COMPLETIONPENDING;
  }
  int32_t SendTo(const char* buffer, int32_t num_bytes, const pp::NetAddress& address,
                 const pp::CompletionCallback& callback) override {
    if (record_->script.send_returns != PP_OK_COMPLETIONPENDING)
      return record_->script.send_returns;
    record_->sent.push_back({std::string(buffer, static_cast<size_t>(num_bytes)), address});
    CompleteLater(callback, record_->script.send_result.value_or(num_bytes));
    return PP_OK_COMPLETIONPENDING;
  }
  int32_t RecvFrom(char* buffer, int32_t num_bytes,
                   const pp::CompletionCallbackWithOutput<pp::NetAddress>& callback) override {
    if (record_->pending_receive) return PP_ERROR_INPROGRESS;
    ++record_->receives_started;
    record_->pending_receive =
        SocketRecord::Receive{buffer, num_bytes, callback, pp::MessageLoop::GetCurrent()};
    return PP_OK_COMPLETIONPENDING;
  }
  void Close() override {
    if (record_->closed) return;
    record_->closed = true;
    if (record_->pending_receive) record_->FailReceive(PP_ERROR_ABORTED);
  }

 private:
  std::shared_ptr<SocketRecord> record_;
};

struct ResolverScript {
  int32_t result = PP_OK;
};

struct ResolverRecord {
  std::string host;
  uint16_t port = 0;
};

class ScriptedResolver : public pp::HostResolverBackend {
 public:
  ScriptedResolver(ResolverScript script, std::shared_ptr<ResolverRecord> record)
      : script_(script), record_(std::move(record)) {}

  // A dotted host resolves to itself; any other name to 10.0.0.9.
  int32_t Resolve(const std::string& host, uint16_t port,
                  const pp::CompletionCallback& callback) override {
    record_->host = host;
    record_->port = port;
    unsigned a, b, c, d;
    const uint32_t address = std::sscanf(host.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d) == 4
                                 ? (a << 24) | (b << 16) | (c << 8) | d
                                 : 0x0A000009;
    if (script_.result == PP_OK) addresses_ = {pp::NetAddress::FromHostOrder(address, port)};
    CompleteLater(callback, script_.result);
    return PP_OK_COMPLETIONPENDING;
  }
  std::vector<pp::NetAddress> addresses() const override { return addresses_; }

 private:
  ResolverScript script_;
  std::shared_ptr<ResolverRecord> record_;
  std::vector<pp::NetAddress> addresses_;
};

// The device: records what is posted to the page, and makes scripted
// sockets and resolvers (or refuses to, when told).
class ScriptedEmbedding : public pp::Embedding {
 public:
  void PostMessage(const pp::Var& message) override { posted_.push_back(message); }
  std::unique_ptr<pp::WorkerThreadBackend> CreateWorkerThread() override { return nullptr; }
  std::shared_ptr<pp::UDPSocketBackend> CreateUDPSocket() override {
    if (refuse_sockets) return nullptr;
    sockets_.push_back(std::make_shared<SocketRecord>());
    sockets_.back()->script = socket_script;
    return std::make_shared<ScriptedSocket>(sockets_.back());
  }
  std::shared_ptr<pp::HostResolverBackend> CreateHostResolver() override {
    if (refuse_resolvers) return nullptr;
    resolvers_.push_back(std::make_shared<ResolverRecord>());
    return std::make_shared<ScriptedResolver>(resolver_script, resolvers_.back());
  }
  int64_t WallClockMicros() override { return 0; }

  SocketScript socket_script;
  ResolverScript resolver_script;
  bool refuse_sockets = false;
  bool refuse_resolvers = false;

  // The sockets and resolvers made so far, oldest first.
  std::vector<std::shared_ptr<SocketRecord>>& sockets() { return sockets_; }
  SocketRecord& socket(size_t index) { return *sockets_.at(index); }
  ResolverRecord& resolver(size_t index) { return *resolvers_.at(index); }
  size_t resolver_count() const { return resolvers_.size(); }

  // The text of every string posted (the log lines), in order; then forgets them.
  std::vector<std::string> TakeLines() {
    std::vector<std::string> lines;
    for (const pp::Var& value : posted_) {
      if (value.is_string()) lines.push_back(value.AsString());
    }
    posted_.clear();
    return lines;
  }

 private:
  std::vector<pp::Var> posted_;
  std::vector<std::shared_ptr<SocketRecord>> sockets_;
  std::vector<std::shared_ptr<ResolverRecord>> resolvers_;
};

}  // namespace scripted
