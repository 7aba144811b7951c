// The launcher's entry point: the host's backend, the run, the exit code.
#include <cstdlib>

#include "quorvanta/core/backend.h"
#include "quorvanta/core/launcher.h"

int main(int argc, char** argv) {
  const std::unique_ptr<quorvanta::Backend> backend = quorvanta::makeHostBackend(argc, argv);
  quorvanta::Launcher launcher(*backend);
  const uint32_t code = launcher.run(quorvanta::hostLauncherArguments(argc, argv));
  // std::exit leaves the backend and the launcher alive while the process
  // ends: the watch thread may still be using them. The whole 32-bit code
  // is the exit code on Windows; POSIX keeps its low 8 bits.
  std::exit(static_cast<int>(code));
}
