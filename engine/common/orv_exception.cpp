#include "engine/common/orv_exception.h"

#include <fmt/format.h>

#include <algorithm>

#include "engine/common/orv_const.h"

namespace orv {

int MessageIndexOf(int native_code) {
  for (const CodePair& pair : kCodePairs)
    if (pair.native_code == native_code) return pair.message_index < 0 ? 0 : pair.message_index;
  return 0;
}

namespace {

// Texts for the codes whose pair names no message.
const char* UnlistedText(int native_code) {
  switch (native_code) {
    case 1094:
      return "Operation is not supported by this dataset";
    case 2160:
      return "Invalid date format string";
    case 2161:
      return "Invalid date or time value for the format";
    default:
      return nullptr;
  }
}

std::string BuildMessage(int native_error, std::string_view component, const std::string& text) {
  std::string message;
  if (!component.empty())
    message = fmt::format("{}: {}", component, text);
  else
    message = text;
  std::string number = fmt::sprintf("%5d", native_error);
  std::replace(number.begin(), number.end(), ' ', '0');
  return message + " - Native error: " + number;
}

}  // namespace

std::string EOrvException::MessageText(int native_error) {
  for (const CodePair& pair : kCodePairs) {
    if (pair.native_code != native_error) continue;
    if (pair.message_index < 0) {
      const char* text = UnlistedText(native_error);
      return text ? text : kMessages[0];
    }
    const char* text = kMessages[pair.message_index];
    return *text ? text : kMessages[0];
  }
  return kMessages[0];
}

EOrvException::EOrvException(int native_error, std::string_view component)
    : EOrvException(native_error, component, MessageText(native_error)) {}

EOrvException::EOrvException(int native_error, std::string_view component, std::string text)
    : Exception(BuildMessage(native_error, component, text)),
      error_code_(MessageIndexOf(native_error)),
      native_error_(native_error) {}

}  // namespace orv
