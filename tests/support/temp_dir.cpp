#include "tests/support/temp_dir.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

namespace orv::testing {

TempDir::TempDir() {
  std::string base = std::filesystem::temp_directory_path().string() + "/orv-test-XXXXXX";
  if (mkdtemp(base.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = base;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace orv::testing
