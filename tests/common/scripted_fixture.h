// A test on the scripted platform: the test's thread is the loop's thread,
// and the process-wide Logger posts to the scripted page.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/logger.h"
#include "scripted_platform.h"

class ScriptedPlatformTest : public ::testing::Test {
 protected:
  ScriptedPlatformTest() : instance_(&embedding_) {}
  void SetUp() override {
    on_loop_.emplace(loop_.get());
    Logger::InitializeInstance(&instance_);
  }
  void TearDown() override {
    Logger::ForgetInstance(&instance_);
    on_loop_.reset();
    loop_->PostQuit();  // queued completions may hold the loop itself
  }

  // Lets every completion queued so far (and those they queue) run.
  void RunUntilIdle() { loop_->RunUntilIdle(); }
  std::vector<std::string> TakeLines() { return embedding_.TakeLines(); }

  scripted::ScriptedEmbedding embedding_;
  pp::Instance instance_;
  std::shared_ptr<scripted::ManualLoop> loop_ = std::make_shared<scripted::ManualLoop>();

 private:
  std::optional<pp::internal::ScopedCurrentLoop> on_loop_;
};
