// A recording page attached to the process-wide Logger for the length of a test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/logger.h"
#include "platform/testing/recording_embedding.h"

class LoggedPageTest : public ::testing::Test {
 protected:
  void SetUp() override { Logger::InitializeInstance(&instance_); }
  void TearDown() override {
    Logger::ForgetInstance(&instance_);
    Logger::EnableDebugLogs(true);
  }
  std::vector<std::string> lines() const { return instance_.page().lines(); }
  void clear() { instance_.page().clear(); }

  pp::testing::RecordingInstance instance_;
};
