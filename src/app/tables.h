// The tables allocated at initialisation from the configured capacities and freed at shutdown.
#pragma once

#include "accesslog/access_log.h"
#include "names/hosts.h"

namespace qvx {

// Allocates and zeroes every table. Returns false when memory is short.
bool QVX_AllocTables();
// Zeroes every table (each capture run starts empty).
void QVX_ClearTables();
// Frees the tables in shutdown order, writing one event-log line before each.
void QVX_FreeTables();

}  // namespace qvx
