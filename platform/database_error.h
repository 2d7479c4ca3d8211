#pragma once

#include <string_view>

#include "platform/exception.h"

namespace orv {

class TComponent;

// Errors the dataset framework raises itself, with the framework's texts.
class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

// Raises EDatabaseError with the message, prefixed by "Name: " when the component has a name.
[[noreturn]] void DatabaseError(std::string_view message, const TComponent* component = nullptr);

}  // namespace orv
