#pragma once

#include <fmt/printf.h>

#include <string>
#include <string_view>
#include <utility>

#include "platform/exception.h"

namespace orv {

// The engine's exception for errors a user or a program can cause. The native code selects a
// message from the fixed table; the text names the raising component and ends with the code:
// "db: Database handle owned by a different session - Native error: 01084".
class EOrvException : public Exception {
 public:
  // component: the name of the raising component; empty for none.
  explicit EOrvException(int native_error, std::string_view component = {});

  // Formats the table entry printf-style with args before building the message.
  template <typename... Args>
  static EOrvException Fmt(int native_error, std::string_view component, const Args&... args) {
    return EOrvException(native_error, component, FormatEntry(native_error, args...));
  }

  int ErrorCode() const { return error_code_; }
  int NativeError() const { return native_error_; }

  // The table text for a native code, unformatted.
  static std::string MessageText(int native_error);

 private:
  EOrvException(int native_error, std::string_view component, std::string text);

  template <typename... Args>
  static std::string FormatEntry(int native_error, const Args&... args) {
    std::string entry = MessageText(native_error);
    try {
      return fmt::sprintf(entry, args...);
    } catch (const std::exception&) {
      // Building the message never fails: a mismatched argument list leaves the text as is.
      return entry;
    }
  }

  int error_code_ = 0;
  int native_error_ = 0;
};

// The cipher layer's exception; code 3 means a cipher was used before it had a key.
class ECipherException : public Exception {
 public:
  ECipherException(int error_code, std::string message)
      : Exception(std::move(message)), error_code_(error_code) {}
  int ErrorCode() const { return error_code_; }

 private:
  int error_code_;
};

class EZlibError : public Exception {
 public:
  using Exception::Exception;
};

class ECompressionError : public EZlibError {
 public:
  ECompressionError() : EZlibError("error") {}
};

class EDecompressionError : public EZlibError {
 public:
  EDecompressionError() : EZlibError("error") {}
};

}  // namespace orv
