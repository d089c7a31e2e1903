// Sessions as `smbstatus -j` prints them (JSON). The Linux platform reads them from the Samba it
// serves; a replay reads them from a file taken while the capture was recorded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace qvx {

// The sessions of `smbstatus -j` output; false when it is not that JSON (and always on a system
// without Samba, whose build carries no reader of it). now is the time the session ages are
// measured against.
bool ParseSmbstatusJson(const std::string& text, int64_t now, std::vector<ServerSession>* out);

}  // namespace qvx
