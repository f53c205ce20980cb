// Text the user typed, made safe to repeat in a one-line message: quoted,
// control characters and bytes that are not UTF-8 shown as escapes, and a
// long text cut at a character boundary.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tilgung {

// Characters of the user's text a message repeats before it cuts with "…".
inline constexpr std::size_t kQuotedTextLimit = 60;

// The text in double quotes: \n, \r, \t, \\ and \" as such, other control
// characters (C0 and DEL as \xHH, C1 as \u00HH) and every byte of an
// invalid UTF-8 sequence as \xHH; after `limit` characters the rest is
// replaced by "…" after the closing quote. The result is valid UTF-8 without control characters.
std::string QuoteUserText(std::string_view text, std::size_t limit = kQuotedTextLimit);

}  // namespace tilgung
