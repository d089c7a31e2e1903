#include "platform/smbstatus.h"

namespace qvx {

// Windows serves no Samba: the program never reads smbstatus output there.
bool ParseSmbstatusJson(const std::string& /*text*/, int64_t /*now*/,
                        std::vector<ServerSession>* out) {
  out->clear();
  return false;
}

}  // namespace qvx
