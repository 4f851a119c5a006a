// Making a lab inside a GoogleTest test.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "tests/netns/netns_lab.h"

namespace netns {

// Builds a lab into `lab`. Where the machine cannot make network namespaces
// the test is skipped with the reason; any other failure fails it. Either way
// `lab` stays empty, so callers return when it is.
inline void MakeLabForTest(const LabOptions& options, std::unique_ptr<NetnsLab>* lab) {
  LabProblem problem;
  *lab = NetnsLab::Create(options, &problem);
  if (*lab) return;
  if (problem.kind == LabProblem::kCannotMakeNamespaces) {
    GTEST_SKIP() << "network namespaces are not available here: " << problem.reason;
  }
  FAIL() << "could not build the namespace lab: " << problem.reason;
}

}  // namespace netns
