#include "platform/locale/TextCodec.h"

#include <cstdint>

namespace platform {

namespace {

constexpr char32_t Replacement = 0xFFFD;

// Code points of the Windows-1252 bytes 0x80..0x9F; the rest of the table is
// the identity (0x00..0x7F ASCII, 0xA0..0xFF Latin-1).
constexpr char16_t HighTable[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
};

char16_t AnsiToCodePoint(unsigned char b) {
  return (b >= 0x80 && b <= 0x9F) ? HighTable[b - 0x80] : static_cast<char16_t>(b);
}

char CodePointToAnsi(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (int i = 0; i < 32; ++i) {
    if (HighTable[i] == c) return static_cast<char>(0x80 + i);
  }
  return '?';
}

// Decodes one code point at `i` and advances `i`. An ill-formed sequence gives
// U+FFFD and advances past its maximal valid prefix (at least one byte), so the
// byte that broke it starts the next sequence.
char32_t NextUtf8(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i++]);
  if (b0 < 0x80) return b0;
  int need = 0;
  char32_t cp = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;  // overlong
    if (b0 == 0xED) hi = 0x9F;  // surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;  // overlong
    if (b0 == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    return Replacement;
  }
  for (int k = 0; k < need; ++k) {
    if (i >= s.size()) return Replacement;
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < lo || b > hi) return Replacement;
    lo = 0x80;
    hi = 0xBF;
    cp = (cp << 6) | (b & 0x3F);
    ++i;
  }
  return cp;
}

// Decodes one code point at `i` of UTF-16 text; unpaired surrogates give
// U+FFFD.
char32_t NextUtf16(std::u16string_view s, std::size_t& i) {
  const char16_t c = s[i++];
  if (c < 0xD800 || c > 0xDFFF) return c;
  if (c <= 0xDBFF && i < s.size() && s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
    const char16_t low = s[i++];
    return 0x10000 + ((static_cast<char32_t>(c - 0xD800) << 10) | (low - 0xDC00));
  }
  return Replacement;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
}

}  // namespace

std::string AnsiToUtf8(std::string_view ansi) {
  std::string out;
  out.reserve(ansi.size());
  for (const char b : ansi) AppendUtf8(out, AnsiToCodePoint(static_cast<unsigned char>(b)));
  return out;
}

std::string Utf8ToAnsi(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) out += CodePointToAnsi(NextUtf8(utf8, i));
  return out;
}

std::u16string AnsiToWide(std::string_view ansi) {
  std::u16string out;
  out.reserve(ansi.size());
  for (const char b : ansi) out += AnsiToCodePoint(static_cast<unsigned char>(b));
  return out;
}

std::string WideToAnsi(std::u16string_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size();) out += CodePointToAnsi(NextUtf16(wide, i));
  return out;
}

std::string WideToUtf8(std::u16string_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size();) AppendUtf8(out, NextUtf16(wide, i));
  return out;
}

std::u16string Utf8ToWide(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) AppendUtf16(out, NextUtf8(utf8, i));
  return out;
}

}  // namespace platform
