// Shared German and American settings for the locale tests.
#pragma once

#include "platform/locale/Locale.h"

namespace platform::test {

inline const FormatSettings& German() {
  static const FormatSettings settings("de_DE");
  return settings;
}

inline const FormatSettings& American() {
  static const FormatSettings settings("en_US");
  return settings;
}

}  // namespace platform::test
