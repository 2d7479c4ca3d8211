#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "platform/env.h"

namespace orv {

inline constexpr int kOrvfsOk = 0;
inline constexpr int kOrvfsFailed = 1;  // a failure, or damage found by check
inline constexpr int kOrvfsUsage = 2;

// Runs one orvfs command: args are the command line without the program name. Results go to
// out (for "get ... -" the file's bytes), the engine's message or the problems found to err.
// The password comes from --password, else from the ORVFS_PASSWORD environment variable. Names
// on the command line are UTF-8. env nullptr: the default.
int RunOrvfs(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
             Env* env = nullptr);

}  // namespace orv
