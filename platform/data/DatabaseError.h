// The dataset framework's component-named database error and the
// application-wide exception handler through which controls report an
// exception instead of letting it cross an event loop.
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <string_view>

#include "platform/os/Exception.h"

namespace platform {

class TComponent;

// The silent exception: an operation abandoned on purpose (an error event
// chose daAbort). ReportException ignores it.
class EAbort : public Exception {
 public:
  using Exception::Exception;
};

// "Name: message" when the component has a name, else the message. Built by
// concatenation: neither the name nor the message is ever read as a format.
std::string DatabaseErrorText(std::string_view message, const TComponent* component);

// Throws EDatabaseError with DatabaseErrorText(message, component).
[[noreturn]] void DatabaseError(std::string_view message, const TComponent* component = nullptr);

// The receiver of reported exceptions. It must not throw; an exception it
// throws anyway is swallowed by ReportException.
using TExceptionHandler = std::function<void(const std::exception&)>;

// Installs `handler` process-wide and returns the previous one. An empty
// handler restores the default, which writes the message to stderr.
// Thread safety: may be called from any thread; a report running at the same
// time uses either the old or the new handler.
TExceptionHandler SetExceptionHandler(TExceptionHandler handler);

// Hands `e` to the installed handler (EAbort is not reported). Never throws.
void ReportException(const std::exception& e) noexcept;
// For use inside a catch block: reports the exception being handled (an
// exception not derived from std::exception is reported as "Unknown error").
void ReportCurrentException() noexcept;

// Installs a handler for the lifetime of the object and restores the previous
// one afterwards (tests, nested event loops).
class TScopedExceptionHandler {
 public:
  explicit TScopedExceptionHandler(TExceptionHandler handler)
      : previous_(SetExceptionHandler(std::move(handler))) {}
  ~TScopedExceptionHandler() { SetExceptionHandler(std::move(previous_)); }
  TScopedExceptionHandler(const TScopedExceptionHandler&) = delete;
  TScopedExceptionHandler& operator=(const TScopedExceptionHandler&) = delete;

 private:
  TExceptionHandler previous_;
};

}  // namespace platform
