// What the engine's libFuzzer harnesses share: the byte vector they build
// from, the check that aborts on a broken rule, and the guard around one run
// that lets no exception out alive.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

namespace fuzz {

using Bytes = std::vector<std::uint8_t>;

inline void Check(bool ok) {
  if (!ok) std::abort();
}

// Runs one input; any exception that leaves it (an engine error where none
// may arise, or a foreign one) is a finding and aborts. Returns 0 for
// LLVMFuzzerTestOneInput.
template <class Run>
int Guarded(Run&& run) {
  try {
    run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "unexpected exception: %s\n", e.what());
    std::abort();
  } catch (...) {
    std::abort();
  }
  return 0;
}

}  // namespace fuzz
