#include "tracking/access_data.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/dbglog.h"
#include "base/option.h"
#include "base/view.h"
#include "tracking/tree_id.h"

namespace qvx {

AccessDataSt* AccessData = nullptr;
int nListIndex = 0;

const char nAccessInfoChgChr[kAccessInfoChgChrCnt][17] = {"Err",  "Wt  ", "New ", "Rd  ", "Del ",
                                                          "ReNm", "Perm", "Attr", "Link", "Copy"};

int AccessDataUsed = 0;

void QVX_AccessDataClear() {
  if (AccessData && AccessDataUsed > 0)
    std::memset(AccessData, 0, sizeof(AccessDataSt) * static_cast<size_t>(AccessDataUsed));
  AccessDataUsed = 0;
}

int AccessData_DeleteItem(int ListCnt, int /*Flg*/) {
  if (AccessData == nullptr || nListIndex <= 0) return 0;
  if (ListCnt < 0) ListCnt = 0;
  for (int i = ListCnt; i < nListIndex - 1; ++i) AccessData[i] = AccessData[i + 1];
  std::memset(&AccessData[nListIndex - 1], 0, sizeof(AccessDataSt));
  --nListIndex;
  return 0;
}

void QVX_AccessDataReset() {
  // The same end as deleting row 0 until none is left, without moving every later row once per
  // deleted row (a full list holds hundreds of thousands of rows).
  if (AccessData && nListIndex > 0)
    std::memset(AccessData, 0, sizeof(AccessDataSt) * static_cast<size_t>(nListIndex));
  nListIndex = 0;
  View* view = QVX_View();
  if (OptionInfo.AccessLogOnly != 1 && view) view->DeleteAllRows();
}

const char* QVX_RowAddress(const char* text, size_t* len) {
  // The last bracket: a name may hold brackets of its own, the address never does.
  const char* open = std::strrchr(text, '(');
  const char* close = open ? std::strchr(open, ')') : nullptr;
  if (open && close) {
    *len = static_cast<size_t>(close - open - 1);
    return open + 1;
  }
  *len = std::strlen(text);
  return text;
}

uint32_t QVX_SameAccessKey(uint32_t tid, const char* client, size_t client_len, const char* server,
                           size_t server_len, const char* path, size_t path_len) {
  // FNV-1a, with a separator between the parts so that a byte cannot move from one to the next.
  uint32_t h = 2166136261u;
  auto add = [&h](const char* p, size_t n) {
    for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(p[i])) * 16777619u;
    h = (h ^ 0x100u) * 16777619u;
  };
  const char id[4] = {static_cast<char>(tid), static_cast<char>(tid >> 8),
                      static_cast<char>(tid >> 16), static_cast<char>(tid >> 24)};
  add(id, sizeof id);
  add(client, client_len);
  add(server, server_len);
  add(path, path_len);
  return h != 0 ? h : 1;
}

namespace {
uint32_t RowKey(AccessDataSt& r) {
  if (r.SameKey == 0) {
    size_t client_len, server_len;
    const char* client = QVX_RowAddress(r.ClientIP, &client_len);
    const char* server = QVX_RowAddress(r.ServerIP, &server_len);
    r.SameKey = QVX_SameAccessKey(QVX_TreeIdOfText(r.TreeID), client, client_len, server,
                                  server_len, r.Path, ::strnlen(r.Path, sizeof r.Path));
  }
  return r.SameKey;
}
}  // namespace

bool QVX_SameAccessFound(const SameAccessKey& key, int64_t lines) {
  if (lines <= 0 || AccessData == nullptr) return false;
  // In 64 bits: SameAccNonLogLine is whatever the ini says, the largest int included.
  const int64_t back = static_cast<int64_t>(nListIndex) - lines;
  const int from = back < 0 ? 0 : back > nListIndex ? nListIndex : static_cast<int>(back);
  const bool unknown = key.operation == nullptr;
  // The key's side is worked out once, not once per row; a row is read in full only when its
  // digest agrees. A text longer than its row field can match no row.
  const size_t path_len = std::strlen(key.path);
  const size_t op_len = unknown ? 0 : std::strlen(key.operation);
  size_t client_len, server_len;
  const char* client = QVX_RowAddress(key.client, &client_len);
  const char* server = QVX_RowAddress(key.server, &server_len);
  const bool comparable =
      path_len < sizeof AccessData[0].Path && op_len < sizeof AccessData[0].Operation;
  const uint32_t digest =
      QVX_SameAccessKey(key.tid, client, client_len, server, server_len, key.path, path_len);
  for (int i = from; i < nListIndex; ++i) {
    AccessDataSt& r = AccessData[i];
    if (unknown && OptionInfo.ErrorLevel >= 2)
      DiagLogLine(DiagLog::kKernel, 1, "QVX_D31-010 %s[%d][%ld] : UNKNOWNデータ重複\r\n",
                  key.caller, __LINE__, platform().LastError());
    if (!comparable || RowKey(r) != digest) continue;
    // Equal texts with their terminators.
    if (QVX_TreeIdOfText(r.TreeID) != key.tid) continue;
    if (!unknown && std::memcmp(r.Operation, key.operation, op_len + 1) != 0) continue;
    if (std::memcmp(r.Path, key.path, path_len + 1) != 0) continue;
    // With host names shown a row holds "name(addr)" while a key may hold the bare address.
    size_t n;
    const char* a = QVX_RowAddress(r.ClientIP, &n);
    if (n != client_len || std::memcmp(a, client, n) != 0) continue;
    a = QVX_RowAddress(r.ServerIP, &n);
    if (n != server_len || std::memcmp(a, server, n) != 0) continue;
    return true;
  }
  return false;
}

}  // namespace qvx
