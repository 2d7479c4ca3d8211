#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/value_text.h"

namespace orv {

// "List index out of bounds (5)" unless 0 <= index < count.
void CheckListIndex(int index, size_t count);

// The position of the first item whose Name() equals name without regard to case; -1 if none.
template <typename T>
int IndexOfName(const std::vector<std::unique_ptr<T>>& items, std::string_view name) {
  for (size_t i = 0; i < items.size(); ++i)
    if (SameText(items[i]->Name(), name)) return static_cast<int>(i);
  return -1;
}

}  // namespace orv
