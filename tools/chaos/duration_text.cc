#include "tools/chaos/duration_text.h"

#include <cstdio>

#include "tools/chaos/plan.h"

namespace chaos {

std::string SecondsText(int64_t us) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(us) / kSecondUs);
  return text;
}

std::string MillisecondsText(int64_t us, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f ms", decimals, static_cast<double>(us) / kMillisecondUs);
  return text;
}

}  // namespace chaos
