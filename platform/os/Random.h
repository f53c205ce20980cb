// Random numbers and GUID texts for generated names (temporary index names,
// names of unnamed constraints).
//
// The numbers are not for cryptography: they only make a clash with an
// existing name unlikely, and every caller still checks the name it drew.
// Each thread has its own generator, seeded once from std::random_device, so
// the functions may be called from any thread without a lock.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// A uniformly drawn integer in [0, bound); 0 when bound <= 0.
std::int64_t RandomBelow(std::int64_t bound);

// A new GUID (version 4, random) in its text form: 38 characters, upper-case
// hexadecimal digits grouped 8-4-4-4-12 between braces, for example
// "{3F2504E0-4F89-41D3-9A0C-0305E82C3301}".
std::string NewGuidText();

}  // namespace platform
