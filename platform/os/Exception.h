// Base exception classes of the platform layer: the root `Exception` that
// carries a message text and a help context, the conversion error raised by
// text-to-number and date routines, and the dataset framework's database error.
#pragma once

#include <exception>
#include <string>

namespace platform {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message = {}, int helpContext = 0)
      : message_(std::move(message)), helpContext_(helpContext) {}

  const std::string& Message() const noexcept { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  int HelpContext() const noexcept { return helpContext_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
  int helpContext_;
};

// Raised when text cannot be converted to a number or a date, or a date
// cannot be composed from its parts.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// The dataset framework's database error: component-level failures carry the
// component's name in front of the message.
class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace platform
