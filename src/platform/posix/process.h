// What the Linux shell asks of its own process: signals, its terminal, its id.
#pragma once

namespace qvx {

// Handlers for the signals the shell follows: stop for SIGINT and SIGTERM, hang_up for SIGHUP.
// The handlers may only set flags.
void QVX_OnProcessSignals(void (*stop)(int), void (*hang_up)(int));
// True when standard output is a terminal (rows are then shown line by line).
bool QVX_StdoutIsTerminal();
long QVX_ProcessId();

}  // namespace qvx
