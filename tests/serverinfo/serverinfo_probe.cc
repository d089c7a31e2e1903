// Reads the local Samba server through the platform layer, as the program does, and prints what
// it found, one fact a line:
//   share NAME PATH TYPE
//   session CLIENT USER            (the server's own view)
//   resolved CLIENT USER           (after the program's client-name resolution)
// Usage: serverinfo_probe SMB_CONF NAME_QUERY_COMMAND
#include <cstdio>
#include <vector>

#include "base/option.h"
#include "base/text.h"
#include "platform/platform.h"
#include "platform/posix/samba.h"
#include "serverinfo/server_info.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: serverinfo_probe SMB_CONF NAME_QUERY_COMMAND\n");
    return 2;
  }
  qvx::SetSambaConfigPath(argv[1]);
  std::vector<qvx::ServerShare> shares;
  if (!qvx::platform().ListShares(&shares)) return 1;
  for (const auto& s : shares)
    std::printf("share %s %s %u\n", s.name.c_str(), s.path.c_str(), s.type);
  // The list is read off the caller's thread: the probe waits for the first one.
  std::vector<qvx::ServerSession> sessions;
  bool listed = qvx::platform().ListSessions(&sessions);
  for (int i = 0; !listed && qvx::platform().SessionListPending() && i < 150; ++i) {
    qvx::platform().SleepMs(100);
    listed = qvx::platform().ListSessions(&sessions);
  }
  if (!listed) return 1;
  for (const auto& s : sessions) std::printf("session %s %s\n", s.client.c_str(), s.user.c_str());

  qvx::OptionSetDefaults(&qvx::OptionInfo);
  qvx::OptionInfo.QVXHosts = 0;
  qvx::OptionInfo.NbtstatChgOn = 1;
  qvx::OptionInfo.NbtstatChgTime = 10000;
  qvx::CopyText(qvx::OptionInfo.NbtstatChgCmd, argv[2]);
  std::vector<qvx::NetWkSessionInfoStSt> rec(16);
  int n = qvx::QVX_NetSession_NT(rec.data(), 16, nullptr, nullptr, nullptr);
  for (int i = 0; i < n; ++i)
    std::printf("resolved %s %s\n", rec[i].sesi502_cname, rec[i].sesi502_username);
  return 0;
}
