#include "report/exit.h"

#include "report/console.h"
#include "platform/platform.h"

namespace morvidex {

void exit(int status) {
  flush_console();
  platform_exit(status);
}

} // namespace morvidex
