#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/field_header.h"

namespace orv {

class TOrvelDataManager;

namespace dataset_internal {

// Destroys a data manager no dataset is connected to, under the data-manager list's lock.
void FreeDataManager(TOrvelDataManager* dm);
// Names separated by "," or ";", trimmed, empty ones dropped.
std::vector<std::string> SplitFieldList(std::string_view list);
std::string JoinNames(const std::vector<std::string>& names);

// The size a field definition declares for a stored field: characters for strings, bytes for
// wide strings (without the terminator) and byte fields.
inline int DefinitionSize(const FieldHeaderType& header) {
  switch (header.Type) {
    case ftString:
      return header.Size - 1;
    case ftWideString:
      return header.Size - 2;
    case ftBytes:
      return header.Size;
    default:
      return 0;
  }
}

}  // namespace dataset_internal
}  // namespace orv
