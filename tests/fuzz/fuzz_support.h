#pragma once
// What every fuzz target shares: REQUIRE, a check that stays on in every build and aborts with the
// file, the line and the broken condition, so that libFuzzer keeps the input that broke it.

#include <cstdio>
#include <cstdlib>

#define REQUIRE(condition)                                                         \
  do {                                                                             \
    if (!(condition)) {                                                            \
      std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                \
    }                                                                              \
  } while (false)
