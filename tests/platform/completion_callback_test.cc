#include "platform/completion_callback.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "platform/pp_errors.h"

namespace {

class Owner {
 public:
  Owner() : factory_(this) {}
  void OnDone(int32_t result) { results.push_back(result); }
  void OnDoneWithTag(int32_t result, std::string tag) { tags.push_back(tag + std::to_string(result)); }
  void OnReceived(int32_t result, const std::string& output) { received = output + ":" + std::to_string(result); }
  void OnSlow(int32_t) {
    started = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    finished = true;
  }
  pp::CompletionCallbackFactory<Owner>& factory() { return factory_; }

  std::vector<int32_t> results;
  std::vector<std::string> tags;
  std::string received;
  std::atomic<bool> started{false};
  std::atomic<bool> finished{false};

 private:
  pp::CompletionCallbackFactory<Owner> factory_;
};

TEST(CompletionCallback, RunCallsTheHandlerOnTheCallingThread) {
  Owner owner;
  auto callback = owner.factory().NewCallback(&Owner::OnDone);
  callback.Run(PP_OK);
  callback.Run(PP_ERROR_FAILED);
  EXPECT_EQ(owner.results, (std::vector<int32_t>{PP_OK, PP_ERROR_FAILED}));
}

TEST(CompletionCallback, BindsExtraArgumentsAndOutputs) {
  Owner owner;
  owner.factory().NewCallback(&Owner::OnDoneWithTag, std::string("tick")).Run(3);
  EXPECT_EQ(owner.tags, std::vector<std::string>{"tick3"});

  auto with_output = owner.factory().NewCallbackWithOutput(&Owner::OnReceived);
  *with_output.output() = "bytes";
  with_output.Run(5);
  EXPECT_EQ(owner.received, "bytes:5");
}

TEST(CompletionCallback, EmptyCallbackDoesNothing) {
  pp::CompletionCallback empty;
  EXPECT_TRUE(empty.IsEmpty());
  empty.Run(PP_OK);
  pp::CompletionCallbackWithOutput<int> empty_output;
  EXPECT_EQ(empty_output.output(), nullptr);
  empty_output.Run(PP_OK);
}

TEST(CompletionCallbackFactory, CallbackFiredAfterFactoryIsGoneDoesNothing) {
  pp::CompletionCallback callback;
  pp::CompletionCallbackWithOutput<std::string> with_output;
  {
    auto owner = std::make_unique<Owner>();
    callback = owner->factory().NewCallback(&Owner::OnDone);
    with_output = owner->factory().NewCallbackWithOutput(&Owner::OnReceived);
  }
  callback.Run(PP_OK);  // would touch freed memory if it reached the owner (ASan)
  with_output.Run(PP_OK);
}

TEST(CompletionCallbackFactory, CancelAllStopsEarlierCallbacksOnly) {
  Owner owner;
  auto before = owner.factory().NewCallback(&Owner::OnDone);
  owner.factory().CancelAll();
  owner.factory().Initialize(&owner);
  auto after = owner.factory().NewCallback(&Owner::OnDone);
  before.Run(1);
  after.Run(2);
  EXPECT_EQ(owner.results, std::vector<int32_t>{2});
}

TEST(CompletionCallbackFactory, DestructionWaitsForAHandlerRunningOnAnotherThread) {
  auto owner = std::make_unique<Owner>();
  auto callback = owner->factory().NewCallback(&Owner::OnSlow);
  std::thread worker([callback] { callback.Run(PP_OK); });
  while (!owner->started) std::this_thread::yield();
  owner->factory().CancelAll();  // must not return while OnSlow still runs
  EXPECT_TRUE(owner->finished);
  worker.join();
}

class SelfDestroying {
 public:
  SelfDestroying() : factory_(this) {}
  void OnDone(int32_t) { delete this; }
  pp::CompletionCallbackFactory<SelfDestroying> factory_;
};

TEST(CompletionCallbackFactory, HandlerMayDestroyItsOwnObject) {
  auto* object = new SelfDestroying;
  object->factory_.NewCallback(&SelfDestroying::OnDone).Run(PP_OK);  // no deadlock, no leak
}

}  // namespace
