#pragma once

#include <string>
#include <utility>

#include "platform/exception.h"

namespace orv::ppmd {

// A PPMd stream that cannot be decoded (or a model state the coder refuses to continue from).
// The compression functions turn it into a false result.
class PpmdError : public Exception {
 public:
  explicit PpmdError(std::string message) : Exception(std::move(message)) {}
};

}  // namespace orv::ppmd
