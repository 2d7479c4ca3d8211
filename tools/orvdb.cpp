#include <iostream>
#include <string>
#include <vector>

#include "tools/orvdb_cli.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> args(argv + 1, argv + argc);
  const int status = orv::RunOrvdb(args, std::cout, std::cerr);
  std::cout.flush();
  return status == 0 && !std::cout ? orv::kOrvdbFailed : status;
}
