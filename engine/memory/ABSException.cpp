#include "engine/memory/ABSException.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

constexpr std::string_view kNativeErrorSeparator = " - Native error: ";

struct Directive {
  bool leftAlign = false;
  bool zeroPad = false;
  int width = -1;
  int precision = -1;
  char conversion = 0;
};

// Reads one directive after its '%'; returns false on a malformed one.
bool ParseDirective(std::string_view format, std::size_t& pos, Directive& d) {
  while (pos < format.size() && (format[pos] == '-' || format[pos] == '0')) {
    (format[pos] == '-' ? d.leftAlign : d.zeroPad) = true;
    ++pos;
  }
  auto readNumber = [&](int& value) {
    std::int64_t n = 0;
    bool any = false;
    while (pos < format.size() && format[pos] >= '0' && format[pos] <= '9') {
      n = n * 10 + (format[pos] - '0');
      if (n > 4096) return false;  // no sane message needs a wider field
      any = true;
      ++pos;
    }
    value = any ? static_cast<int>(n) : 0;
    return true;
  };
  if (pos < format.size() && format[pos] >= '1' && format[pos] <= '9' && !readNumber(d.width))
    return false;
  if (pos < format.size() && format[pos] == '.') {
    ++pos;
    if (!readNumber(d.precision)) return false;
  }
  if (pos >= format.size()) return false;
  d.conversion = format[pos++];
  return true;
}

// Pads `body` to the directive's width. `zeroFill` says whether the '0' flag
// may fill with zeros: printf ignores it for texts, for integers given a
// precision, and for infinite or NaN floats.
void Pad(std::string& out, std::string body, const Directive& d, bool zeroFill) {
  if (d.width < 0 || static_cast<int>(body.size()) >= d.width) {
    out += body;
    return;
  }
  std::size_t fill = static_cast<std::size_t>(d.width) - body.size();
  if (d.leftAlign) {
    out += body;
    out.append(fill, ' ');
  } else if (d.zeroPad && zeroFill) {
    std::size_t signLen = (!body.empty() && body[0] == '-') ? 1 : 0;
    out += body.substr(0, signLen);
    out.append(fill, '0');
    out += body.substr(signLen);
  } else {
    out.append(fill, ' ');
    out += body;
  }
}

std::string FormatInteger(std::int64_t v, const Directive& d) {
  std::string digits;
  bool negative = false;
  if (d.conversion == 'x' || d.conversion == 'X' || d.conversion == 'u') {
    // Unsigned directives print the two's complement of negative 32-bit
    // values, as printf does.
    std::uint64_t u = (v >= std::numeric_limits<std::int32_t>::min() &&
                       v <= std::numeric_limits<std::uint32_t>::max())
                          ? static_cast<std::uint32_t>(v)
                          : static_cast<std::uint64_t>(v);
    const unsigned base = d.conversion == 'u' ? 10 : 16;
    const char* symbols = d.conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    do {
      digits.insert(digits.begin(), symbols[u % base]);
      u /= base;
    } while (u);
  } else {
    negative = v < 0;
    std::uint64_t u = negative ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    do {
      digits.insert(digits.begin(), static_cast<char>('0' + u % 10));
      u /= 10;
    } while (u);
  }
  if (d.precision > static_cast<int>(digits.size()))
    digits.insert(0, static_cast<std::size_t>(d.precision) - digits.size(), '0');
  return negative ? "-" + digits : digits;
}

}  // namespace

bool ABSFormatMessage(std::string_view format, const std::vector<TABSFormatArg>& args,
                      std::string& out) {
  out.clear();
  std::size_t next = 0;
  for (std::size_t pos = 0; pos < format.size();) {
    char c = format[pos++];
    if (c != '%') {
      out += c;
      continue;
    }
    if (pos < format.size() && format[pos] == '%') {
      out += '%';
      ++pos;
      continue;
    }
    Directive d;
    if (!ParseDirective(format, pos, d) || next >= args.size()) return false;
    const auto& value = args[next++].Value();
    switch (d.conversion) {
      case 'd':
      case 'i':
      case 'u':
      case 'x':
      case 'X': {
        const auto* i = std::get_if<std::int64_t>(&value);
        if (!i) return false;
        Pad(out, FormatInteger(*i, d), d, d.precision < 0);
        break;
      }
      case 's': {
        const auto* s = std::get_if<std::string>(&value);
        if (!s) return false;
        std::string body = d.precision >= 0 ? s->substr(0, d.precision) : *s;
        Pad(out, std::move(body), d, false);
        break;
      }
      case 'f':
      case 'g':
      case 'e': {
        const auto* f = std::get_if<double>(&value);
        if (!f) return false;
        // std::to_chars prints as printf does in the "C" locale, whatever
        // locale the host program has set: messages always use '.'.
        const auto format = d.conversion == 'f'   ? std::chars_format::fixed
                            : d.conversion == 'e' ? std::chars_format::scientific
                                                  : std::chars_format::general;
        char buf[512];
        auto [end, ec] = std::to_chars(buf, buf + sizeof buf, *f, format,
                                       d.precision < 0 ? 6 : std::min(d.precision, 100));
        if (ec != std::errc()) return false;
        Pad(out, std::string(buf, end), d, std::isfinite(*f));
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

EABSException::EABSException(std::int32_t nativeError, std::string_view message)
    : nativeError_(nativeError) {
  std::string text(message);
  text += kNativeErrorSeparator;
  Directive code;
  code.precision = 5;
  code.conversion = 'd';
  text += FormatInteger(nativeError, code);
  SetMessage(std::move(text));
}

EABSException::EABSException(std::int32_t nativeError, std::string_view format,
                             std::initializer_list<TABSFormatArg> args)
    : EABSException(nativeError, format, std::vector<TABSFormatArg>(args)) {}

EABSException::EABSException(std::int32_t nativeError, std::string_view format,
                             const std::vector<TABSFormatArg>& args)
    : nativeError_(nativeError) {
  std::string text;
  if (!ABSFormatMessage(format, args, text)) {
    text.assign(format);
    text += " Arguments are invalid!";
  }
  text += kNativeErrorSeparator;
  Directive code;
  code.width = 5;
  code.conversion = 'd';
  Pad(text, FormatInteger(nativeError, code), code, true);
  SetMessage(std::move(text));
}

std::string CursorResultText(std::int32_t code) {
  switch (code) {
    case crErrorAdding:
      return "Error adding record";
    case crErrorUpdating:
      return "Error updating record";
    case crErrorDeleting:
      return "Error deleting record";
    case crUpdateModifiedByOther:
      return "Error updating record - record was modified by other process";
    case crDeleteModifiedByOther:
      return "Error deleting record - record was modified by other process";
    case crUpdateDeletedByOther:
      return "Error updating record - record was deleted by other process";
    case crDeleteDeletedByOther:
      return "Error deleting record - record was deleted by other process";
    case crCannotUpdateTemporary:
      return "Cannot update record in temporary mode";
    case crCannotDeleteTemporary:
      return "Cannot delete record in temporary mode";
    case crCannotCancelTemporary:
      return "Cannot cancel operation in temporary mode";
    case crRecordLocked:
      return "Record is locked";
    case crTableLocked:
      return "Table is locked";
    default:
      return {};
  }
}

EABSEngineError::EABSEngineError(std::int32_t errorCode, std::string_view text)
    : errorCode_(errorCode),
      errorText_(errorCode == crPostValidationError ? std::string(text)
                                                    : CursorResultText(errorCode)) {
  SetMessage("Dovavuru Engine Error # " + std::to_string(errorCode) + " " + errorText_);
}

void RaiseEngineError(std::int32_t errorCode, std::string_view text) {
  throw EABSEngineError(errorCode, text);
}

void CheckEngineResult(std::int32_t errorCode, std::string_view text) {
  if (errorCode != crOk) RaiseEngineError(errorCode, text);
}
