#include "capture/unreadable.h"

#include <cstdio>
#include <string>

#include "audit/file_access.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "tracking/connection_tracker.h"
#include "tracking/session_tree.h"

namespace qvx {

namespace {

std::string Mac(const unsigned char* m) {
  char t[18];
  std::snprintf(t, sizeof t, "%2.2x:%2.2x:%2.2x:%2.2x:%2.2x:%2.2x", m[0], m[1], m[2], m[3], m[4],
                m[5]);
  return t;
}

}  // namespace

void QVX_UnreadableSession(CaptureContext& ctx, bool encrypted, const ConnectionEnds& ends,
                           uint64_t session, const unsigned char* macs, bool toward) {
  const EndsText text(ends);
  const uint16_t client_port = ends.client_port;
  AccessFacts a;
  a.now = ctx.platform->Now();
  a.client = text.client;
  a.server = text.server;
  // The log-on itself is never encrypted: its user is known when the capture saw it.
  a.login = ctx.tracker->User(a.server.c_str(), a.client.c_str(), client_port);
  if (a.login.empty()) {
    char user[512] = {};
    QVX_LookUpUser(QVX_UserSources(ctx), a.client.c_str(), user, 0);
    a.login = user;
  }
  if (ctx.options.MACadressFlg == 1) {
    a.server_mac = Mac(toward ? macs : macs + 6);
    a.client_mac = Mac(toward ? macs + 6 : macs);
  } else {
    a.server_mac = a.client_mac = "--";
  }
  a.cmd = encrypted ? "SMB3_ENCRYPTED" : "SMB3_COMPRESSED";
  a.info = encrypted ? "暗号化された通信（監査できません）" : "圧縮された通信（監査できません）";
  a.routine = "QVX_UnreadableSession";
  a.path = "\\\\" + a.server;
  QVX_KLOG(
      "QVX_E21-072 QVX_LogThread[%d][%ld] : %s session 0x%016llx of %s%s%s:%u (user %s) to %s "
      "cannot be audited\r\n",
      encrypted ? "encrypted" : "compressed", static_cast<unsigned long long>(session),
      ends.client.v6 ? "[" : "", a.client.c_str(), ends.client.v6 ? "]" : "",
      static_cast<unsigned>(client_port), a.login.c_str(), a.server.c_str());
  QVX_WriteAccess(ctx, a, encrypted ? "encrypted" : "compressed", "", true);
}

}  // namespace qvx
