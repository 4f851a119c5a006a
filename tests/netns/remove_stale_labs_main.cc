// The cleanup step after the namespace tests: removes the namespaces of every
// lab whose owner process has ended (a test that was killed on a time-out
// cannot remove its own). Labs of running processes are left alone, so tests
// running at the same time are not disturbed.
#include <cstdio>
#include <string>

#include "tests/netns/netns_lab.h"

int main() {
  std::string problems;
  for (const std::string& name : netns::NetnsLab::RemoveStaleLabs(&problems)) {
    std::printf("removed stale namespace %s\n", name.c_str());
  }
  if (!problems.empty()) std::fprintf(stderr, "%s", problems.c_str());
  return 0;
}
