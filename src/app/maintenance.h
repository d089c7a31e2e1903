// The periodic work after each accepted frame: rows of departed clients leave the list, the
// status bar shows the tables' use, and departed clients' trees end.
#pragma once

#include "base/data.h"

namespace qvx {

// The periodic clean-up after each accepted frame (runs every RefleshTime seconds).
int QVX_SmbInfoTableDelete(DATA* data);

}  // namespace qvx
