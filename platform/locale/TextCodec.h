// Conversions between the engine's "ANSI" text (Windows-1252 bytes), wide
// text (UTF-16) and UTF-8. All functions are pure and thread-safe.
//
// Windows-1252 is taken as a full single-byte table: the five bytes that have
// no printable character (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control
// characters of the same value, so every byte survives a round trip through
// UTF-8 or UTF-16.
// Invalid UTF-8 (bad lead bytes, truncated or overlong sequences, encoded
// surrogates, values above U+10FFFF) decodes to U+FFFD per maximal bad
// subpart; unpaired UTF-16 surrogates likewise become U+FFFD. Characters that
// Windows-1252 cannot hold become '?'.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::string AnsiToUtf8(std::string_view ansi);
std::string Utf8ToAnsi(std::string_view utf8);
std::u16string AnsiToWide(std::string_view ansi);
std::string WideToAnsi(std::u16string_view wide);
std::string WideToUtf8(std::u16string_view wide);
std::u16string Utf8ToWide(std::string_view utf8);

}  // namespace platform
