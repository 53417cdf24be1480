// loader_probe LOADER: status 0 when LOADER starts, 77 (the skip status of
// the test runner) with the reason on standard output when the kernel
// refuses it, 1 with the reason on standard error for any other failure.
#include "loader.h"

#include <cstdio>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: loader_probe LOADER\n");
    return 2;
  }
  std::string why;
  switch (e2e::probe_loader(argv[1], &why)) {
  case e2e::Loader::runs:
    return 0;
  case e2e::Loader::refused:
    std::printf("%s\n", e2e::LOADER_REFUSED);
    return 77;
  case e2e::Loader::broken:
    break;
  }
  std::fprintf(stderr, "%s\n", why.c_str());
  return 1;
}
