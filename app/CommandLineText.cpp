#include "app/CommandLineText.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ostream>

#include "app/CommandLine.h"
#include "app/OutputFile.h"
#include "platform/locale/Locale.h"

namespace tilgung {

std::size_t Columns(const std::string& text) {
  std::size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

std::string PadLeft(const std::string& text, std::size_t width) {
  const std::size_t cols = Columns(text);
  return cols >= width ? text : std::string(width - cols, ' ') + text;
}

std::string PadRight(const std::string& text, std::size_t width) {
  const std::size_t cols = Columns(text);
  return cols >= width ? text : text + std::string(width - cols, ' ');
}

void WriteTextTable(const std::vector<std::vector<std::string>>& lines, std::ostream& out) {
  std::vector<std::size_t> widths;
  for (const auto& line : lines) {
    if (widths.size() < line.size()) widths.resize(line.size());
    for (std::size_t c = 0; c < line.size(); ++c) widths[c] = std::max(widths[c], Columns(line[c]));
  }
  for (const auto& line : lines) {
    for (std::size_t c = 0; c < line.size(); ++c) {
      out << (c ? "  " : "") << PadLeft(line[c], widths[c]);
    }
    out << '\n';
  }
}

void WriteCaptionedLines(const std::vector<std::pair<std::string, std::string>>& lines,
                         std::ostream& out) {
  std::size_t captionWidth = 0, valueWidth = 0;
  for (const auto& [caption, value] : lines) {
    captionWidth = std::max(captionWidth, Columns(caption));
    valueWidth = std::max(valueWidth, Columns(value));
  }
  for (const auto& [caption, value] : lines) {
    out << PadRight(caption, captionWidth) << "  " << PadLeft(value, valueWidth) << '\n';
  }
}

std::string IsoDate(platform::TDateTime value) {
  int y, m, d;
  platform::DecodeDate(value, y, m, d);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  return buf;
}

bool ParseIsoDate(const std::string& text, platform::TDateTime& out) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  const int y = std::stoi(text.substr(0, 4));
  const int m = std::stoi(text.substr(5, 2));
  const int d = std::stoi(text.substr(8, 2));
  if (y < 1601) return false;
  return platform::TryEncodeDate(y, m, d, out);
}

std::string JsonNumber(double value) {
  return std::isfinite(value) ? platform::FormatFloatInvariant(value) : "null";
}

int WriteStandardOutput(const std::string& text, std::ostream& out, std::ostream& err) {
  // The stream keeps no errno of its own: the one its last write left.
  errno = 0;
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.flush();
  if (!out) {
    const int error = errno;
    err << "Fehler: Die Standardausgabe konnte nicht geschrieben werden"
        << (error ? ": " + WriteFailureReason(error) : std::string()) << ".\n";
    return kExitWriteFailed;
  }
  return kExitOk;
}

}  // namespace tilgung
