// Message loops and worker threads of the real platform.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>
#include <thread>

#include "posix_fixture.h"

namespace posix_test {
namespace {

using LoopTest = PosixPlatformTest;

pp::CompletionCallback Note(Inbox<std::string>& inbox, std::string what) {
  return pp::CompletionCallback([&inbox, what](int32_t) { inbox.Push(what); });
}

TEST_F(LoopTest, WorkRunsOnTheLoopsOwnThreadWhereThatLoopIsCurrent) {
  pp::SimpleThread worker(&embedding_);
  ASSERT_TRUE(worker.Start());
  const pp::MessageLoop loop = worker.message_loop();

  std::thread::id first, second;
  pp::MessageLoop current;
  RunOn(loop, [&] {
    first = std::this_thread::get_id();
    current = pp::MessageLoop::GetCurrent();
  });
  RunOn(loop, [&] { second = std::this_thread::get_id(); });

  EXPECT_EQ(first, second);
  EXPECT_NE(first, std::this_thread::get_id());
  EXPECT_EQ(current, loop);
  EXPECT_TRUE(pp::MessageLoop::GetCurrent().is_null()) << "the test thread runs no loop";
}

TEST_F(LoopTest, MainLoopRunsOnTheEmbeddersMainThread) {
  pp::MessageLoop current;
  RunOn(runtime_.main_loop(), [&] { current = pp::MessageLoop::GetCurrent(); });
  EXPECT_EQ(current, runtime_.main_loop());
  EXPECT_NE(ThreadOf(runtime_.main_loop()), std::this_thread::get_id());
}

TEST_F(LoopTest, UndelayedWorkRunsInPostingOrderAndDelayedWorkByItsDelay) {
  pp::SimpleThread worker(&embedding_);
  ASSERT_TRUE(worker.Start());
  const pp::MessageLoop loop = worker.message_loop();
  Inbox<std::string> order;
  // Posted from inside one piece of work, so that nothing runs before all are queued.
  RunOn(loop, [&] {
    loop.PostWork(Note(order, "late"), 60);
    loop.PostWork(Note(order, "first"), 0);
    loop.PostWork(Note(order, "soon"), 20);
    loop.PostWork(Note(order, "second"), 0);
  });
  EXPECT_EQ(order.Wait(4), (std::vector<std::string>{"first", "second", "soon", "late"}));
}

TEST_F(LoopTest, QuitDropsQueuedAndDelayedWorkAndLaterPosts) {
  pp::SimpleThread worker(&embedding_);
  ASSERT_TRUE(worker.Start());
  const pp::MessageLoop loop = worker.message_loop();
  Inbox<std::string> ran;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<void> blocking;

  loop.PostWork(pp::CompletionCallback([&](int32_t) {
    blocking.set_value();
    released.wait();
  }));
  blocking.get_future().wait();
  loop.PostWork(Note(ran, "queued"), 0);
  loop.PostWork(Note(ran, "delayed"), 1);
  loop.PostQuit();
  EXPECT_EQ(loop.PostWork(Note(ran, "after quit"), 0), PP_OK) << "accepted, then dropped";
  release.set_value();
  worker.Join();

  EXPECT_TRUE(ran.items().empty());
}

TEST_F(LoopTest, JoinIsIdempotentAndAJoinedThreadCannotStartAgain) {
  pp::SimpleThread worker(&embedding_);
  ASSERT_TRUE(worker.Start());
  EXPECT_FALSE(worker.Start());
  worker.Join();
  worker.Join();
  EXPECT_FALSE(worker.Start());
}

TEST_F(LoopTest, ThreadDestroyedByItsOwnWorkDoesNotDeadlock) {
  auto worker = std::make_unique<pp::SimpleThread>(&embedding_);
  ASSERT_TRUE(worker->Start());
  Inbox<std::string> done;
  worker->message_loop().PostWork(pp::CompletionCallback([&](int32_t) {
    worker.reset();
    done.Push("destroyed");
  }));
  EXPECT_EQ(done.Wait(1), std::vector<std::string>{"destroyed"});
}

TEST_F(LoopTest, WallClockIsTheSystemClockInMicroseconds) {
  const int64_t before = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
  const int64_t read = pp::WallClockMicros(&embedding_);
  const int64_t after = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
  EXPECT_LE(before, read);
  EXPECT_LE(read, after);
}

}  // namespace
}  // namespace posix_test
