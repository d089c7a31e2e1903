#include "names/nbt.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/dbglog.h"
#include "base/option.h"
#include "base/text.h"
#include "names/hosts.h"
#include "platform/platform.h"

namespace qvx {

NbtSessionTableSt NbtSessionTable[kNbtSessionTableMax];
int NbtSessionTableCnt = 0;
char ComputerNameErrList[kComputerNameErrListMax][16];
int ComputerNameErrListCnt = 0;

int GetCUIAppMsg(const char* cmdline, char* buf, size_t size, int qvx_stdout, int qvx_stderr,
                 int timeout, unsigned long* CmdLen, const char* CmdOpt) {
  if (CmdLen) *CmdLen = 0;
  if (buf == nullptr || size == 0) return 0;
  char line[512];
  size_t n = CopyText(line, sizeof line, cmdline);
  CopyText(line + n, sizeof line - n, CmdOpt);
  std::memset(buf, 0, size);

  ChildResult r;
  if (!platform().RunChild(line, timeout, qvx_stdout != 0, qvx_stderr != 0, size - 1, &r)) {
    if (r.started) {
      QVX_KLOG("QVX_E65-006 GetCUIAppMsg[%d][%ld] : GetCUIAppMsg TIMEOUT %d ms (%s)\r\n", timeout,
               line);
    } else {
      QVX_KLOG("QVX_E65-005 GetCUIAppMsg[%d][%ld] : GetCUIAppMsg CreateProcess Error (%s)\r\n",
               line);
    }
    return 0;
  }
  size_t got = r.output.size() < size - 1 ? r.output.size() : size - 1;
  std::memcpy(buf, r.output.data(), got);
  if (CmdLen) *CmdLen = static_cast<unsigned long>(got);
  return 1;
}

bool NbtCacheFindByName(const char* name, char* addr, size_t size) {
  if (!name) return false;
  for (int i = 0; i < NbtSessionTableCnt && i < kNbtSessionTableMax; ++i) {
    if (std::strcmp(NbtSessionTable[i].ComputerName, name) == 0) {
      CopyText(addr, size, NbtSessionTable[i].IpAddr);
      return true;
    }
  }
  return false;
}

bool NbtCacheFindByAddr(const char* addr, char* name, size_t size) {
  if (!addr) return false;
  for (int i = 0; i < NbtSessionTableCnt && i < kNbtSessionTableMax; ++i) {
    if (std::strcmp(NbtSessionTable[i].IpAddr, addr) == 0) {
      CopyText(name, size, NbtSessionTable[i].ComputerName);
      return true;
    }
  }
  return false;
}

void NbtCacheInsert(const char* name, const char* addr) {
  int wrap = OptionInfo.NetWkInfoCnt;
  if (wrap <= 0 || wrap > kNbtSessionTableMax) wrap = kNbtSessionTableMax;
  if (NbtSessionTableCnt >= wrap) NbtSessionTableCnt = 0;
  NbtSessionTableSt& e = NbtSessionTable[NbtSessionTableCnt];
  CopyText(e.ComputerName, name);
  CopyText(e.IpAddr, addr);
  ++NbtSessionTableCnt;
}

bool ComputerNameErrListContains(const char* name) {
  if (!name) return false;
  for (int i = 0; i < ComputerNameErrListCnt; ++i)
    if (std::strcmp(ComputerNameErrList[i], name) == 0) return true;
  return false;
}

void ComputerNameErrListAppend(const char* name) {
  if (ComputerNameErrListCnt < kComputerNameErrListFill) {
    CopyText(ComputerNameErrList[ComputerNameErrListCnt], name);
    ++ComputerNameErrListCnt;
  } else {
    QVX_KLOG("QVX_E09-002 QVX_NetSession_NT[%d][%ld] : ComputerNameErrListCnt MAX \r\n");
  }
}

namespace {

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0'; }

// The first place name stands as a whole column of text (blanks or the text's ends around it):
// PC1 is not found inside PC10.
const char* FindColumn(const char* text, const char* name) {
  const size_t n = std::strlen(name);
  for (const char* p = std::strstr(text, name); p != nullptr; p = std::strstr(p + 1, name))
    if ((p == text || Blank(p[-1])) && Blank(p[n])) return p;
  return nullptr;
}

}  // namespace

int NameFromSessionTable(const char* name, char* addr, size_t size) {
  std::vector<char> buf(kNbtOutputSize);
  unsigned long len = 0;
  if (GetCUIAppMsg(OptionInfo.NbtstatChgCmd, buf.data(), buf.size(), 1, 1,
                   OptionInfo.NbtstatChgTime, &len, " -s") != 1)
    return kNameQueryRunFailed;
  const char* hit = (name && name[0]) ? FindColumn(buf.data(), name) : nullptr;
  if (hit == nullptr) {
    QVX_KLOG("QVX_D09-004 QVX_NetSession_NT[%d][%ld] :  nbtstat コンピュータ名一致なし\r\n");
    return kNameQueryNoMatch;
  }
  long offset = static_cast<long>(hit - buf.data());

  if (GetCUIAppMsg(OptionInfo.NbtstatChgCmd, buf.data(), buf.size(), 1, 1,
                   OptionInfo.NbtstatChgTime, &len, " -S") != 1)
    return kNameQueryRun2Failed;
  if (static_cast<long>(len) < offset) {
    QVX_KLOG("QVX_D09-004 QVX_NetSession_NT[%d][%ld] :  バッファあふれ %d %d\r\n",
             static_cast<int>(offset), static_cast<int>(len));
    return kNameQueryNoMatch;
  }
  // The address stands where the name stood, as a column of its own, and ends at the next blank.
  char found[32];
  size_t k = 0;
  bool ended = false;
  const bool starts = offset == 0 || Blank(buf[static_cast<size_t>(offset) - 1]);
  for (unsigned long i = static_cast<unsigned long>(offset); starts && i < len; ++i) {
    if (Blank(buf[i])) {
      ended = true;
      break;
    }
    if (k >= sizeof found - 1) break;
    found[k++] = buf[i];
  }
  found[k] = '\0';
  if (!ended || k == 0) return kNameQueryNoMatch;
  // Only an address is an answer: anything else would be cached and compared for good.
  if (QVX_IpAddrChk(found) != 0) {
    QVX_KLOG("QVX_D09-004 QVX_NetSession_NT[%d][%ld] :  アドレスではありません %s\r\n", found);
    return kNameQueryNoMatch;
  }
  NbtCacheInsert(name, found);
  CopyText(addr, size, found);
  return kNameQueryOk;
}

bool QVX_NbtstatCommandCheck(void* owner) {
  if (OptionInfo.NbtstatChgOn != 1) return true;
  QVX_KLOG(
      "QVX_I02-007 QVX_Dlg_Proc[%d][%ld] : NbtstatChgOn=%d NbtstatChgTime=%d NbtstatChgCmd=%s\r\n",
      OptionInfo.NbtstatChgOn, OptionInfo.NbtstatChgTime, OptionInfo.NbtstatChgCmd);
  std::vector<char> buf(kNbtOutputSize);
  unsigned long len = 0;
  if (GetCUIAppMsg(OptionInfo.NbtstatChgCmd, buf.data(), buf.size(), 1, 1,
                   OptionInfo.NbtstatChgTime, &len, " -s") != 1) {
    QVX_KLOG("QVX_E02-008 QVX_Dlg_Proc[%d][%ld] : NBTSTAT COMMAND CHK NG (%s)\r\n",
             OptionInfo.NbtstatChgCmd);
    ScMessageBox(owner, "Starting of a NBTSTAT command went wrong.", "infomation", kMbOk);
    return false;
  }
  QVX_KLOG("QVX_I02-008 QVX_Dlg_Proc[%d][%ld] : NBTSTAT COMMAND CHK OK (%s)\r\n",
           OptionInfo.NbtstatChgCmd);
  return true;
}

void NbtReset() {
  std::memset(NbtSessionTable, 0, sizeof NbtSessionTable);
  NbtSessionTableCnt = 0;
  std::memset(ComputerNameErrList, 0, sizeof ComputerNameErrList);
  ComputerNameErrListCnt = 0;
}

}  // namespace qvx
