#include "tools/lansim/progress.h"

#include <string>

namespace lansim {

void ProgressLine::Update(int64_t now_us, int64_t end_us) {
  if (end_us <= 0) return;
  const double share = static_cast<double>(now_us) / static_cast<double>(end_us);
  const double now_s = static_cast<double>(now_us) / 1e6;
  const double end_s = static_cast<double>(end_us) / 1e6;
  if (terminal_) {
    constexpr int kBar = 30;
    const int filled = static_cast<int>(share * kBar);
    const std::string bar = std::string(filled, '#') + std::string(kBar - filled, '.');
    std::fprintf(out_, "\rlansim: [%s] %5.1f%%  %.2f s of %.2f s virtual", bar.c_str(), share * 100,
                 now_s, end_s);
    drawn_ = true;
  } else {
    const int tenth = static_cast<int>(share * 10 + 1e-9);
    if (tenth <= last_tenth_) return;
    last_tenth_ = tenth;
    std::fprintf(out_, "lansim: %3d%%  %.2f s of %.2f s virtual\n", tenth * 10, now_s, end_s);
  }
  std::fflush(out_);
}

void ProgressLine::Finish() {
  if (drawn_) std::fputc('\n', out_);
  drawn_ = false;
  std::fflush(out_);
}

}  // namespace lansim
