// What the entry point does before the main window runs: the three diagnostic log paths,
// ChangeDayValue and the command-line option.
#pragma once

namespace qvx {

// argv[0] is the first argument after the program name (the option), argv[1] the kernel log path.
// Returns false when a log path cannot be built; the box has been shown and the process ends.
bool QVX_StartUp(int argc, const char* const* argv);

}  // namespace qvx
