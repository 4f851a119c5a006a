// Shows how far a run has got in virtual time, on a stream meant for people:
// a line redrawn in place on a terminal, else a line at every tenth of the run.
#pragma once

#include <cstdint>
#include <cstdio>

namespace lansim {

class ProgressLine {
 public:
  ProgressLine(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}
  void Update(int64_t now_us, int64_t end_us);
  // Ends the redrawn line.
  void Finish();

 private:
  std::FILE* out_;
  bool terminal_;
  int last_tenth_ = 0;
  bool drawn_ = false;
};

}  // namespace lansim
