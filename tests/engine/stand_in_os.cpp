// The seam's table for test programs built without the platform layer: every entry starts
// empty and the harness binds what the engine uses.
#include "platform/platform.h"

namespace platform {

Os& os() {
  static Os table{};
  return table;
}

}  // namespace platform
