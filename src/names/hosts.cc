#include "names/hosts.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "app/alloc.h"
#include "app/dbglog.h"
#include "app/option.h"
#include "app/tables.h"
#include "app/text.h"
#include "names/nbt.h"
#include "platform/platform.h"

namespace qvx {

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
  std::FILE* f = (fresh && szFolder) ? std::fopen(szFolder, "r") : nullptr;
  if (f) {
    rc = 0;
    char line[kHostLine];
    while (std::fgets(line, sizeof line, f)) {
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
      }
      ++cnt;
    }
    std::fclose(f);
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
      CopyText(IPAdress, 16, HostsData[i][1]);
      return 0;
    }
  }
  return 1;
}

int AddHostName(const char* addr, char* szListBuff, int OptionInfo_HostName, int /*Flg*/) {
  char name[kHostDisplayName + 1] = {};
  if (addr == nullptr) addr = "";
  if (OptionInfo_HostName != 1) {
    CopyText(szListBuff, kHostDisplayName + 1, addr);
    return 0;
  }
  if (OptionInfo.QVXHosts == 1) {
    std::lock_guard<std::mutex> lock(g_hosts_mu);
    for (int i = 0; HostsData && i < HostsDataCnt; ++i) {
      // A substring match, as the table has always been read: 10.0.0.1 finds 10.0.0.12.
      if (std::strstr(HostsData[i][1], addr) != nullptr) {
        CopyText(name, HostsData[i][0]);
        std::snprintf(szListBuff, kHostDisplaySize, "%s(%s)", name, addr);
        return 0;
      }
    }
  }
  if (OptionInfo.NbtstatChgOn == 1) {
    char found[16];
    if (NbtCacheFindByAddr(addr, found, sizeof found)) {
      std::snprintf(szListBuff, kHostDisplaySize, "%s(%s)", found, addr);
      return 0;
    }
  }
  std::string host;
  int err = 0;
  if (platform().HostByAddr(addr, &host, &err)) {
    CopyText(name, host.c_str());
  } else {
    std::snprintf(name, sizeof name, "ホスト名取得失敗 rc = %d", err);
  }
  std::snprintf(szListBuff, kHostDisplaySize, "%s(%s)", name, addr);
  return 0;
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
  if (pszIP == nullptr || !platform().HostByAddr(pszIP, &name, &err)) {
    std::snprintf(pszHost, static_cast<size_t>(nBufsize), "ホスト名取得失敗 rc = %d", err);
    return -2;
  }
  CopyText(pszHost, static_cast<size_t>(nBufsize), name.c_str());
  return 0;
}

int QVX_IpAddrChk(const char* ChkCode) {
  if (ChkCode == nullptr || ChkCode[0] == '\0') return 1;
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
