#pragma once

#include <exception>
#include <string>

namespace orv {

// The plain exception of the runtime: a message and nothing else. Internal consistency faults
// of the engine raise it with a text that starts with the class and operation; the engine's own
// errors derive from it. Messages are 8-bit text in code page 1251.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}

  const std::string& Message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 protected:
  void SetMessage(std::string message) { message_ = std::move(message); }

 private:
  std::string message_;
};

}  // namespace orv
