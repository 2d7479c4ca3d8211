#include "platform/database_error.h"

#include <string>

#include "platform/component.h"

namespace orv {

void DatabaseError(std::string_view message, const TComponent* component) {
  if (component && !component->Name().empty())
    throw EDatabaseError(component->Name() + ": " + std::string(message));
  throw EDatabaseError(std::string(message));
}

}  // namespace orv
