#include "names/hosts.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "base/alloc.h"
#include "base/dbglog.h"
#include "base/ip_address.h"
#include "base/option.h"
#include "base/text.h"
#include "names/nbt.h"
#include "platform/os_rules.h"
#include "platform/platform.h"

namespace qvx {

char*** HostsData = nullptr;

int HostsDataCnt = 0;

namespace {

// Guards HostsData/HostsDataCnt: the menu re-read swaps a new table in while the capture thread
// may be looking names up.
std::mutex g_hosts_mu;

constexpr size_t kHostField = 256;
constexpr size_t kHostLine = 256;

}  // namespace

int QVX_HostsRead(void* /*data*/, const char* szFolder) {
  char*** fresh = mallocChar3D(kHostsDataEntries, 2, kHostField);
  int cnt = 0;
  int rc = 1;
  std::string text;
  if (fresh && szFolder && platform().ReadWholeFile(szFolder, &text)) {
    rc = 0;
    int number = 0;
    for (size_t pos = 0; pos < text.size();) {
      const size_t nl = text.find('\n', pos);
      const size_t begin = pos;
      const size_t len = (nl == std::string::npos ? text.size() : nl) - begin;
      pos = nl == std::string::npos ? text.size() : nl + 1;
      ++number;
      // A line longer than the line buffer is skipped whole: its tail read as a line of its own
      // would name a host.
      if (len > kHostLine - 1) {
        QVX_KLOG(
            "QVX_E02-017 QVX_HostsRead[%d][%ld] : QVX_hostsファイル %d 行目は %d "
            "文字を超えるため読み飛ばしました。(%s)\r\n",
            number, static_cast<int>(kHostLine - 2), szFolder);
        continue;
      }
      // The line with its break where the buffer has room for it.
      char line[kHostLine + 1];
      std::memcpy(line, text.data() + begin, len);
      size_t n = len;
      if (nl != std::string::npos && n + 1 <= kHostLine - 1) line[n++] = '\n';
      line[n] = '\0';
      if (line[0] == '#') continue;
      if (cnt >= kHostsDataEntries) continue;  // further lines are ignored
      char* name = fresh[cnt][0];
      char* addr = fresh[cnt][1];
      const char* comma = std::strchr(line, ',');
      if (comma == nullptr) {
        // No comma: the whole line, its break included, is the name; such a row never matches.
        CopyText(name, kHostField, line);
      } else {
        CopyTextN(name, kHostField, line, static_cast<size_t>(comma - line));
        const char* rest = comma + 1;
        const char* second = std::strchr(rest, ',');
        if (second) {
          // Whatever follows a second comma is not stored.
          CopyTextN(addr, kHostField, rest, static_cast<size_t>(second - rest));
        } else {
          CopyText(addr, kHostField, rest);
          // CR LF files read in text mode on Linux keep their CR: both go.
          size_t n = std::strlen(addr);
          while (n > 0 && (addr[n - 1] == '\n' || addr[n - 1] == '\r')) addr[--n] = '\0';
        }
        // An IPv6 address in its standard form, the one the lines show ("FD00::0005" is fd00::5).
        char standard[kIpTextSize];
        if (std::strchr(addr, ':') && NormalizeIpText(addr, standard, sizeof standard))
          CopyText(addr, kHostField, standard);
      }
      ++cnt;
    }
  }
  if (!fresh) return 1;
  char*** old;
  {
    std::lock_guard<std::mutex> lock(g_hosts_mu);
    old = HostsData;
    HostsData = fresh;
    HostsDataCnt = rc == 0 ? cnt : 0;
  }
  freeChar3D(old);
  return rc;
}

int QVXHostsChk(const char* HostName, char* IPAdress, int /*Flg*/) {
  std::lock_guard<std::mutex> lock(g_hosts_mu);
  if (!HostsData || !HostName) return 1;
  for (int i = 0; i < HostsDataCnt; ++i) {
    if (std::strcmp(HostsData[i][0], HostName) == 0) {
      CopyText(IPAdress, kIpTextSize, HostsData[i][1]);
      return 0;
    }
  }
  return 1;
}

namespace {

// Reverse look-ups block the capture thread for as long as the resolver takes, and every line
// asks for its client and server: answers (failures too) are kept for a while.
constexpr int kReverseCacheSize = 256;
constexpr int64_t kReverseKeepFound = 600;  // seconds
constexpr int64_t kReverseKeepFailed = 60;  // a name may appear soon; ask again sooner

struct ReverseEntry {
  char addr[48];
  char name[256];  // the longest DNS name
  int err;
  bool found;
  bool used;
  int64_t when;
};
ReverseEntry g_reverse[kReverseCacheSize];
int g_reverse_next = 0;  // the slot a new address takes: the oldest one written
std::mutex g_reverse_mu;

bool Fresh(const ReverseEntry& e, int64_t now) {
  const int64_t keep = e.found ? kReverseKeepFound : kReverseKeepFailed;
  // A clock that went back (a replay of an older capture) makes an entry stale too.
  return now >= e.when && now - e.when < keep;
}

// platform().HostByAddr through the cache: true with the name, or false with the error code.
bool ReverseLookup(const char* addr, std::string* name, int* err) {
  const int64_t now = static_cast<int64_t>(platform().Now().t);
  {
    std::lock_guard<std::mutex> lock(g_reverse_mu);
    for (const ReverseEntry& e : g_reverse) {
      if (!e.used || std::strcmp(e.addr, addr) != 0 || !Fresh(e, now)) continue;
      *name = e.name;
      *err = e.err;
      return e.found;
    }
  }
  // Asked without the lock: the user-interface thread must not wait behind the resolver.
  name->clear();
  *err = 0;
  const bool found = platform().HostByAddr(addr, name, err);
  std::lock_guard<std::mutex> lock(g_reverse_mu);
  ReverseEntry* slot = nullptr;
  for (ReverseEntry& e : g_reverse)
    if (e.used && std::strcmp(e.addr, addr) == 0) slot = &e;  // a stale answer is replaced
  if (slot == nullptr) {
    slot = &g_reverse[g_reverse_next];
    g_reverse_next = (g_reverse_next + 1) % kReverseCacheSize;
  }
  CopyText(slot->addr, addr);
  CopyText(slot->name, name->c_str());
  slot->err = *err;
  slot->found = found;
  slot->used = true;
  slot->when = now;
  return found;
}

// Bytes of name that fit in room without splitting a character of the code page names are in:
// UTF-8 on Linux, the double-byte Japanese code page of the program's own texts on Windows.
size_t NamePrefix(const char* name, size_t room) {
  if constexpr (os::kDoubleByteCodePage) {
    size_t n = 0;
    while (name[n] != '\0') {
      const unsigned char c = static_cast<unsigned char>(name[n]);
      const bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
      const size_t width = lead && name[n + 1] != '\0' ? 2 : 1;
      if (n + width > room) break;
      n += width;
    }
    return n;
  }
  size_t n = ::strnlen(name, room + 1);
  if (n <= room) return n;
  n = room;
  while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
  return n;
}

// "name(addr)" in the 64-byte display text: a long name is shortened so that the address, which
// the clean-up and the repeat test read back, is always there whole.
void WithName(char* out, const char* name, const char* addr) {
  const size_t alen = ::strnlen(addr, kHostDisplaySize - 3);
  size_t room = kHostDisplaySize - 3 - alen;  // the brackets and the terminator
  if (room > static_cast<size_t>(kHostDisplayName)) room = kHostDisplayName;
  const size_t n = NamePrefix(name, room);
  std::snprintf(out, kHostDisplaySize, "%.*s(%.*s)", static_cast<int>(n), name,
                static_cast<int>(alen), addr);
}

}  // namespace

int AddHostName(const char* addr, char* szListBuff, int OptionInfo_HostName, int /*Flg*/) {
  if (addr == nullptr) addr = "";
  if (OptionInfo_HostName != 1) {
    CopyText(szListBuff, kHostDisplayName + 1, addr);
    return 0;
  }
  if (OptionInfo.QVXHosts == 1) {
    std::lock_guard<std::mutex> lock(g_hosts_mu);
    for (int i = 0; HostsData && i < HostsDataCnt; ++i) {
      // The whole address column: 10.0.0.1 is not a part of 10.0.0.12.
      if (std::strcmp(HostsData[i][1], addr) == 0) {
        WithName(szListBuff, HostsData[i][0], addr);
        return 0;
      }
    }
  }
  if (OptionInfo.NbtstatChgOn == 1) {
    char found[16];
    if (NbtCacheFindByAddr(addr, found, sizeof found)) {
      WithName(szListBuff, found, addr);
      return 0;
    }
  }
  std::string host;
  int err = 0;
  if (ReverseLookup(addr, &host, &err)) {
    WithName(szListBuff, host.c_str(), addr);
  } else {
    char failed[kHostDisplayName + 1];
    std::snprintf(failed, sizeof failed, "ホスト名取得失敗 rc = %d", err);
    WithName(szListBuff, failed, addr);
  }
  return 0;
}

void QVX_HostCacheClear() {
  std::lock_guard<std::mutex> lock(g_reverse_mu);
  std::memset(g_reverse, 0, sizeof g_reverse);
  g_reverse_next = 0;
}

int GetIp(const char* pszHost, char* pszIP, int nBufsize, int /*nOpenFlg*/) {
  if (nBufsize <= 0) return -1;
  std::string ip;
  int err = 0;
  if (pszHost == nullptr || !platform().HostByName(pszHost, &ip, &err)) {
    std::snprintf(pszIP, static_cast<size_t>(nBufsize), "IPアドレス取得失敗 rc = %d", err);
    return -1;
  }
  CopyText(pszIP, static_cast<size_t>(nBufsize), ip.c_str());
  return 0;
}

int GetHost(const char* pszIP, char* pszHost, int nBufsize, int /*nOpenFlg*/) {
  if (nBufsize <= 0) return -2;
  std::string name;
  int err = 0;
  if (pszIP == nullptr || !ReverseLookup(pszIP, &name, &err)) {
    std::snprintf(pszHost, static_cast<size_t>(nBufsize), "ホスト名取得失敗 rc = %d", err);
    return -2;
  }
  CopyText(pszHost, static_cast<size_t>(nBufsize), name.c_str());
  return 0;
}

int QVX_IpAddrChk(const char* ChkCode) {
  if (ChkCode == nullptr || ChkCode[0] == '\0') return 1;
  IpAddress v6;
  if (std::strchr(ChkCode, ':') && ParseIpAddress(ChkCode, &v6)) return 0;
  size_t n = std::strlen(ChkCode);
  if (n > 15) return 1;
  if (ChkCode[0] < '0' || ChkCode[0] > '9') return 1;
  int dots = 0;
  for (size_t i = 1; i < n; ++i) {
    char c = ChkCode[i];
    if (c == '.')
      ++dots;
    else if (c < '0' || c > '9')
      return 1;
  }
  return dots == 3 ? 0 : 1;
}

void QVX_HostsReadAtStartUp(void* owner) {
  if (OptionInfo.QVXHosts != 1) return;
  const std::string cwd = platform().CurrentDirectory();
  char path[512];
  std::snprintf(path, sizeof path, "%s%c%s", cwd.c_str(), kPathSep, kHostsFileName);
  if (QVX_HostsRead(nullptr, path) != 0) {
    OptionInfo.QVXHosts = 0;
    ScMessageBox(owner, "Reading of a QVX_hosts file went wrong.", "error", kMbOk);
    QVX_KLOG("QVX_E02-010 QVX_Dlg_Proc[%d][%ld] : QVX_hostsファイルの読み込みに失敗しました。\r\n");
  }
}

void QVX_HostsReadCommand(void* owner, const char* path) {
  if (path == nullptr || path[0] == '\0') return;
  if (QVX_HostsRead(nullptr, path) == 0) {
    ScMessageBox(owner, "The QVX_hosts file was read.", "infomation", kMbOk);
    QVX_ELOG("QVX_I02-014 QVX_Dlg_Proc[%d][%ld] : QVX_hostsファイルを読み込みました。\r\n");
  } else {
    ScMessageBox(owner, "Reading of a QVX_hosts file went wrong.", "error", kMbOk);
    QVX_ELOG("QVX_E02-016 QVX_Dlg_Proc[%d][%ld] : QVX_hostsファイルの読み込みに失敗しました。\r\n");
    OptionInfo.QVXHosts = 0;
  }
}

}  // namespace qvx
