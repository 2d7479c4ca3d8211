#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace orv::fuzz {

// A scratch folder made on first use and removed when the process ends, for fuzz targets that
// need their input as files.
inline const std::string& Scratch() {
  struct Folder {
    Folder() {
      path = std::filesystem::temp_directory_path().string() + "/orv-fuzz-XXXXXX";
      if (mkdtemp(path.data()) == nullptr) std::abort();
    }
    ~Folder() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
    std::string path;
  };
  static Folder folder;
  return folder.path;
}

}  // namespace orv::fuzz
