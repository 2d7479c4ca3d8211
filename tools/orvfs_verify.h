#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/env.h"

namespace orv {

struct TOrvfsFinding {
  bool Warning = false;  // loses space, not data
  std::string Text;
};

struct TOrvfsCheck {
  std::vector<TOrvfsFinding> Findings;
  std::string Summary;

  bool Damaged() const;
};

// Everything orvfs check looks at, reading the container read-only: the header, the bitmaps
// against the page maps and the directory (CheckContainer), then the page header of every owned
// page against its role and the checksum of every data page, which CheckContainer does not read.
// Leaked pages and stale extent marks are warnings.
TOrvfsCheck CheckContainerFile(const std::string& path, const std::string& password, Env* env);

}  // namespace orv
