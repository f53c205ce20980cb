#include "app/UserText.h"

#include <unicode/uchar.h>

#include <cstdio>

namespace tilgung {

namespace {

// Length of the valid UTF-8 sequence starting at `i`, or 0 when the bytes
// there are not one (overlong forms, surrogates and values above U+10FFFF
// included).
std::size_t Utf8Length(std::string_view s, std::size_t i, char32_t& cp) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = b(i);
  std::size_t n;
  if (lead < 0x80) {
    cp = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3;
    cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4;
    cp = lead & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
      (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) {
    return 0;
  }
  return n;
}

// Characters that steer a terminal or hide text without showing a glyph:
// controls (Cc, the C1 range included), format characters (Cf: bidi
// overrides, zero-width characters) and line and paragraph separators.
bool IsInvisibleControl(char32_t cp) {
  switch (u_charType(static_cast<UChar32>(cp))) {
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
      return true;
    default:
      return false;
  }
}

void AppendHex(std::string& out, unsigned value) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\x%02X", value & 0xFF);
  out += buf;
}

}  // namespace

std::string QuoteUserText(std::string_view text, std::size_t limit) {
  std::string out = "\"";
  std::size_t chars = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (chars == limit) {
      return out + "\"…";
    }
    char32_t cp = 0;
    const std::size_t n = Utf8Length(text, i, cp);
    if (n == 0) {
      AppendHex(out, static_cast<unsigned char>(text[i]));
      ++i;
    } else {
      switch (cp) {
        case '\n':
          out += "\\n";
          break;
        case '\r':
          out += "\\r";
          break;
        case '\t':
          out += "\\t";
          break;
        case '\\':
          out += "\\\\";
          break;
        case '"':
          out += "\\\"";
          break;
        default:
          if (cp < 0x20 || cp == 0x7F) {
            AppendHex(out, static_cast<unsigned>(cp));
          } else if (IsInvisibleControl(cp)) {
            char buf[12];
            std::snprintf(buf, sizeof buf, cp > 0xFFFF ? "\\U%08X" : "\\u%04X",
                          static_cast<unsigned>(cp));
            out += buf;
          } else {
            out.append(text.substr(i, n));
          }
      }
      i += n;
    }
    ++chars;
  }
  return out + "\"";
}

}  // namespace tilgung
