#include "platform/platform.h"

namespace platform {

Os& os() {
  static Os table = RealOs();
  return table;
}

}  // namespace platform
