#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "platform/env.h"

namespace orv {

inline constexpr int kOrvdbOk = 0;
inline constexpr int kOrvdbFailed = 1;  // a failure, or damage found by check
inline constexpr int kOrvdbUsage = 2;

// Runs one orvdb command on a database (a container file, or a folder of table files): args
// are the command line without the program name. Results go to out, the engine's message or
// the problems found to err. --password opens an encrypted container (else ORVDB_PASSWORD),
// --table-password encrypted tables (else ORVDB_TABLE_PASSWORD). Names, CSV text and output are
// UTF-8; the tables hold code page 1251. env nullptr: the default.
int RunOrvdb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
             Env* env = nullptr);

}  // namespace orv
