// The page that every fuzz target's log lines go to. Attaching the process-wide
// Logger makes each target format its log lines, as a device does; the target
// clears the recorded values at the start of each input so memory stays flat.
#pragma once

#include "common/logger.h"
#include "platform/testing/recording_embedding.h"

namespace fuzz {

inline pp::testing::RecordingInstance& LoggedPage() {
  static pp::testing::RecordingInstance* const page = [] {
    auto* instance = new pp::testing::RecordingInstance();  // lives as long as the process
    Logger::InitializeInstance(instance);
    return instance;
  }();
  return *page;
}

// The page, emptied of the previous input's values.
inline pp::testing::RecordingEmbedding& FreshPage() {
  auto& page = LoggedPage().page();
  page.clear();
  return page;
}

}  // namespace fuzz
