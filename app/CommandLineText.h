// Text helpers shared by the command line's two plans (CommandLine.cpp and
// FullRepaymentCommandLine.cpp): display columns and padding of UTF-8 text,
// ISO dates as the date options take them, JSON numbers, and the checked
// write to standard output. Plain functions without state.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "platform/os/DateTime.h"

namespace tilgung {

// Display width of UTF-8 text: one column per character.
std::size_t Columns(const std::string& text);
std::string PadLeft(const std::string& text, std::size_t width);
std::string PadRight(const std::string& text, std::size_t width);

// Writes `lines` as a text table: every cell right-aligned to its column's
// widest cell, two spaces between columns, a line ending each row.
void WriteTextTable(const std::vector<std::vector<std::string>>& lines, std::ostream& out);
// Writes caption/value pairs in two columns: captions left-aligned, values
// right-aligned, two spaces between them.
void WriteCaptionedLines(const std::vector<std::pair<std::string, std::string>>& lines,
                         std::ostream& out);

// YYYY-MM-DD.
std::string IsoDate(platform::TDateTime value);
// Parses YYYY-MM-DD into a date the date picker can hold (year 1601 or later).
bool ParseIsoDate(const std::string& text, platform::TDateTime& out);

// The shortest text that reads back as the same double, with "."; "null" for
// an infinity or NaN, which JSON has no literal for.
std::string JsonNumber(double value);

// Writes `text` to `out`, the standard output, and flushes it; kExitOk, or
// kExitWriteFailed with one German line on `err` when the stream failed.
int WriteStandardOutput(const std::string& text, std::ostream& out, std::ostream& err);

}  // namespace tilgung
