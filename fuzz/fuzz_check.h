// Property checks inside fuzz targets: a broken property is a finding, reported
// like a crash so that libFuzzer saves the input.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, what)                                                       \
  do {                                                                                    \
    if (!(condition)) {                                                                   \
      std::fprintf(stderr, "%s:%d: property broken: %s (%s)\n", __FILE__, __LINE__, what, \
                   #condition);                                                           \
      std::abort();                                                                       \
    }                                                                                     \
  } while (0)
