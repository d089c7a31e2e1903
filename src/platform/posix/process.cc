#include "platform/posix/process.h"

#include <signal.h>
#include <unistd.h>

namespace qvx {

void QVX_OnProcessSignals(void (*stop)(int), void (*hang_up)(int)) {
  struct sigaction sa {};
  sa.sa_handler = stop;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sa.sa_handler = hang_up;
  sigaction(SIGHUP, &sa, nullptr);
}

bool QVX_StdoutIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

long QVX_ProcessId() { return static_cast<long>(getpid()); }

}  // namespace qvx
