// libFuzzer harness: the locale-aware parsers (numbers, integers, currency,
// dates and times) under German, English and C locales. The first byte picks
// the locale, the rest is the text. Parsers must never throw or read out of
// bounds; a value that parses must survive format-then-parse where the
// format is exact (integers).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/locale/Locale.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const platform::FormatSettings de("de_DE");
  static const platform::FormatSettings en("en_US");
  static const platform::FormatSettings c("C");
  if (size == 0) return 0;
  const platform::FormatSettings* all[] = {&de, &en, &c};
  const platform::FormatSettings& fs = *all[data[0] % 3];
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  double d = 0;
  std::int32_t i32 = 0;
  std::int64_t i64 = 0;
  platform::TDateTime dt{};
  (void)fs.TryParseFloat(text, d);
  (void)fs.TryParseCurrency(text, d);
  if (fs.TryParseInt32(text, i32)) {
    std::int32_t back = 0;
    if (!fs.TryParseInt32(std::to_string(i32), back) || back != i32) std::abort();
  }
  (void)fs.TryParseInt64(text, i64);
  (void)fs.TryParseDate(text, dt);
  (void)fs.TryParseTime(text, dt);
  (void)fs.TryParseDateTime(text, dt);
  return 0;
}
