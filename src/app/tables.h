// The tables allocated at initialisation from the configured capacities and freed at shutdown.
#pragma once

namespace qvx {

extern char*** HostsData;  // host file: 512 entries of two 256-character strings
extern char* LogData;      // the 64 KiB access-log line buffer
inline constexpr int kHostsDataEntries = 512;
inline constexpr int kLogDataSize = 65536;

// Allocates and zeroes every table. Returns false when memory is short.
bool QVX_AllocTables();
// Zeroes every table (each capture run starts empty).
void QVX_ClearTables();
// Frees the tables in shutdown order, writing one event-log line before each.
void QVX_FreeTables();

}  // namespace qvx
