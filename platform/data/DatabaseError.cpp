#include "platform/data/DatabaseError.h"

#include <cstdio>
#include <mutex>

#include "platform/data/Component.h"

namespace platform {

std::string DatabaseErrorText(std::string_view message, const TComponent* component) {
  std::string text;
  if (component != nullptr && !component->Name().empty()) {
    text.reserve(component->Name().size() + 2 + message.size());
    text += component->Name();
    text += ": ";
  }
  text += message;
  return text;
}

void DatabaseError(std::string_view message, const TComponent* component) {
  throw EDatabaseError(DatabaseErrorText(message, component));
}

namespace {

std::mutex& HandlerMutex() {
  static std::mutex mutex;
  return mutex;
}

TExceptionHandler& Handler() {
  static TExceptionHandler handler;
  return handler;
}

void DefaultHandler(const std::exception& e) {
  std::fputs(e.what(), stderr);
  std::fputc('\n', stderr);
}

}  // namespace

TExceptionHandler SetExceptionHandler(TExceptionHandler handler) {
  std::lock_guard<std::mutex> lock(HandlerMutex());
  TExceptionHandler previous = std::move(Handler());
  Handler() = std::move(handler);
  return previous;
}

void ReportException(const std::exception& e) noexcept {
  if (dynamic_cast<const EAbort*>(&e) != nullptr) return;
  try {
    TExceptionHandler handler;
    {
      std::lock_guard<std::mutex> lock(HandlerMutex());
      handler = Handler();
    }
    if (handler) {
      handler(e);
    } else {
      DefaultHandler(e);
    }
  } catch (...) {
  }
}

void ReportCurrentException() noexcept {
  std::exception_ptr current = std::current_exception();
  if (!current) return;
  try {
    std::rethrow_exception(current);
  } catch (const std::exception& e) {
    ReportException(e);
  } catch (...) {
    ReportException(Exception("Unknown error"));
  }
}

}  // namespace platform
