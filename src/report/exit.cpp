#include "report/exit.h"

#include "platform/platform.h"
#include "report/console.h"

namespace morvidex {

void exit(int status) {
  flush_console();
  platform_exit(status);
}

} // namespace morvidex
