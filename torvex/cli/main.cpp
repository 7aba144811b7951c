#include <cstdio>

#include "dispatch.h"
#include "torvex/platform/platform.h"

int main(int argc, char** argv) {
  torvex::installservices();
  const int status = torvex::runtorvex(argc, argv);
  std::fflush(stdout);
  return status;
}
