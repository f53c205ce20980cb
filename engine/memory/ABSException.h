// The engine's two exception classes and the helpers that raise them.
//
// EABSException is raised at the engine site that detects a failure; its
// message ends with " - Native error: " and the site's native code.
// EABSEngineError is raised by the dataset after a cursor record operation
// left a nonzero result code.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "platform/os/Exception.h"

// One argument of a formatted engine message: an integer, a text or a float.
// Integers take "%d"-style directives, texts "%s", floats "%f"/"%g"/"%e".
class TABSFormatArg {
 public:
  template <typename T,
            std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, int> = 0>
  TABSFormatArg(T v) : value_(static_cast<std::int64_t>(v)) {}
  TABSFormatArg(bool v) : value_(static_cast<std::int64_t>(v)) {}
  TABSFormatArg(double v) : value_(v) {}
  TABSFormatArg(const char* v) : value_(std::string(v ? v : "")) {}
  TABSFormatArg(std::string v) : value_(std::move(v)) {}
  TABSFormatArg(std::string_view v) : value_(std::string(v)) {}

  const std::variant<std::int64_t, double, std::string>& Value() const { return value_; }

 private:
  std::variant<std::int64_t, double, std::string> value_;
};

// Formats `format` with printf-like directives (%d %i %u %x %X %s %f %g %e %%,
// with flags '-' and '0', width and precision, '*' not supported). Returns
// false, leaving `out` unspecified, when a directive is malformed, has no
// argument, or does not fit its argument's kind. Never throws for bad input.
bool ABSFormatMessage(std::string_view format, const std::vector<TABSFormatArg>& args,
                      std::string& out);

class EABSException : public platform::Exception {
 public:
  // Plain form: `message` + " - Native error: " + code as "%.5d".
  EABSException(std::int32_t nativeError, std::string_view message);
  // Formatting form: formatted text + " - Native error: " + code as "%5d".
  // A format that does not fit its arguments gives the format text followed
  // by " Arguments are invalid!" instead; the constructor never fails.
  EABSException(std::int32_t nativeError, std::string_view format,
                std::initializer_list<TABSFormatArg> args);
  EABSException(std::int32_t nativeError, std::string_view format,
                const std::vector<TABSFormatArg>& args);

  std::int32_t NativeError() const noexcept { return nativeError_; }

 private:
  std::int32_t nativeError_;
};

// Result codes of cursor record operations; 0 is success.
enum CursorResultCode : std::int32_t {
  crOk = 0,
  crErrorAdding = -1,
  crErrorUpdating = -2,
  crErrorDeleting = -3,
  crUpdateModifiedByOther = -4,
  crDeleteModifiedByOther = -5,
  crUpdateDeletedByOther = -6,
  crDeleteDeletedByOther = -7,
  crPostValidationError = -8,
  crCannotUpdateTemporary = -9,
  crCannotDeleteTemporary = -10,
  crCannotCancelTemporary = -11,
  crRecordLocked = -12,
  crTableLocked = -13,
};

// The fixed text of a cursor result code; empty for -8 and for codes without
// a text.
std::string CursorResultText(std::int32_t code);

class EABSEngineError : public platform::EDatabaseError {
 public:
  // Message: "Dovavuru Engine Error # " + code + " " + ErrorText. For code -8
  // ErrorText is `text`; for codes with a fixed text `text` is ignored.
  EABSEngineError(std::int32_t errorCode, std::string_view text);

  std::int32_t ErrorCode() const noexcept { return errorCode_; }
  const std::string& ErrorText() const noexcept { return errorText_; }

 private:
  std::int32_t errorCode_;
  std::string errorText_;
};

[[noreturn]] void RaiseEngineError(std::int32_t errorCode, std::string_view text);
// Does nothing for code 0; raises EABSEngineError otherwise.
void CheckEngineResult(std::int32_t errorCode, std::string_view text);
