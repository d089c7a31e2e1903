#include "filters/ip_filter.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "base/dbglog.h"
#include "base/ip_address.h"
#include "base/option.h"
#include "platform/platform.h"

namespace qvx {

char IpAddFilterInfoData[kFilterEntries][kFilterLineSize];
int IpAddFilterInfoDataNo = 0;
char IpAddFilterInfoFilePath[512];

int QVX_IpFilterStartup(void* hWnd, const char* folder) {
  char* path = IpAddFilterInfoFilePath;
  std::snprintf(path, sizeof IpAddFilterInfoFilePath, "%s%c%s", folder, kPathSep,
                kIpFilterFileName);
  // No file yet is an empty filter, not a fault.
  const bool absent = !platform().FileExists(path);
  int r = 0;
  {
    std::lock_guard<std::mutex> lock(FilterTableLock());
    if (absent)
      IpAddFilterInfoDataNo = 0;
    else
      r = ExclusionInfoRead(path, &IpAddFilterInfoDataNo, kFilterEntries, IpAddFilterInfoData);
    if (r == -1) IpAddFilterInfoDataNo = 0;
  }
  if (r == -1) {
    const std::string text = "The IP address filter " + std::string(path) +
                             " cannot be used: " + FilterFileProblem(path) +
                             ". No address is filtered.";
    ScMessageBox(hWnd, text.c_str(), "Quorvix Start-Up", kMbIconInformation);
    QVX_KLOG(
        "QVX_E02-011 QVX_Dlg_Proc[%d][%ld] : IPアドレスフェルタファイル読み込み失敗。"
        "NorInfoFilePath=%s\r\n",
        path);
  }
  return r;
}

bool QVX_IpFilterDrops(const char* src, const char* dst) {
  std::lock_guard<std::mutex> lock(FilterTableLock());
  for (int i = 0; i < IpAddFilterInfoDataNo; ++i) {
    const auto* e = reinterpret_cast<const IpFilterInfoSt*>(IpAddFilterInfoData[i]);
    if (e->ValidFlg == '0') continue;
    if (ExclusionDateChk(nullptr, e->sYear, e->sMon, e->sDay, e->eYear, e->eMon, e->eDay) != 0)
      continue;
    if (OptionInfo.ErrorLevel >= 4)
      QVX_KLOG("QVX_D21-011 QVX_LogThread[%d][%ld] : 除外チェック %d IP[%s] s[%s] d[%s]\r\n", 0,
               e->IpAddr, src, dst);
    if (std::strcmp(e->IpAddr, src) == 0 || std::strcmp(e->IpAddr, dst) == 0) return true;
    // An IPv6 entry names its address in any spelling ("FD00::0005" is fd00::5).
    IpAddress listed, a;
    if (std::strchr(e->IpAddr, ':') && ParseIpAddress(e->IpAddr, &listed) &&
        ((ParseIpAddress(src, &a) && a == listed) || (ParseIpAddress(dst, &a) && a == listed)))
      return true;
  }
  return false;
}

}  // namespace qvx
