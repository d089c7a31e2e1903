#include "base/option.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "base/dbglog.h"
#include "platform/platform.h"
#include "platform/profile.h"

namespace qvx {

OptionInfoSt OptionInfo;
int nAccessKindFlg = 0;

namespace {

struct IntKey {
  const char* name;
  int OptionInfoSt::*field;
  int def;
};

struct TextKey {
  const char* name;
  size_t offset;  // of the char array in OptionInfoSt
  size_t size;
  const char* def;
};

#define QVX_INT(f, d) \
  { #f, &OptionInfoSt::f, d }
// Every int key with its default, in record order.
const IntKey kIntKeys[] = {
    QVX_INT(LogFileWriteFlg, 0),
    QVX_INT(LogFileChangeFlg, 0),
    QVX_INT(LogFileSize, 0),
    QVX_INT(LogFileDate, 0),
    QVX_INT(StartDown, 0),
    QVX_INT(StartTask, 1),
    QVX_INT(SMB, 1),
    QVX_INT(API, 1),
    QVX_INT(RefleshTime, 10),
    QVX_INT(AutoStart, 0),
    QVX_INT(ErrorLevel, 0),
    QVX_INT(HostName, 0),
    QVX_INT(AllPacketGet, 0),
    QVX_INT(QVXHosts, 0),
    QVX_INT(SameAccNonLogFlg, 1),
    QVX_INT(SameAccNonLogLine, 50),
    QVX_INT(ServiceTaskWait, 1000),
    QVX_INT(PathDubileCorteSet, 0),
    QVX_INT(DriverSelectNo, 0),
    QVX_INT(AccessLogOnly, 0),
    QVX_INT(LogChgYoubiFlg, 0),
    QVX_INT(LogChgDayFlg, 0),
    QVX_INT(StartLogChg, 0),
    QVX_INT(LogFileChangeChkTime, 600),
    QVX_INT(LogFileSelect, 1),
    QVX_INT(ResetTime, 99),
    QVX_INT(PacketBuffer, 0),
    QVX_INT(NbtstatChgOn, 1),
    QVX_INT(NbtstatChgTime, 2500),
    QVX_INT(SMBOtherPackets, 1),
    QVX_INT(SMB2OtherPackets, 1),
    QVX_INT(smb1_com_other_del_off, 1),
    QVX_INT(smb1_com_transaction2_off, 0),
    QVX_INT(smb1_com_write_andx_off, 1),
    QVX_INT(smb1_com_read_andx_off, 1),
    QVX_INT(smb2_com_flush_off, 1),
    QVX_INT(SessionSetupFlg, 1),
    QVX_INT(MACadressFlg, 1),
    QVX_INT(SMBcmdListFlg, 0),
    QVX_INT(SMBExtFlg, 1),
    QVX_INT(ChangeLogFileUpDate, 0),
    QVX_INT(NonDebugWriteLogFlg, 0),
    QVX_INT(NonEventWriteLogFlg, 0),
    QVX_INT(ViewRefreshTime, 99),
    QVX_INT(VipFlg, 0),
    QVX_INT(AsynchronousFlg, 0),
    QVX_INT(MemperformanceSelect, 0),
    QVX_INT(SessionSetupCnt, 1024),
    QVX_INT(TreeConnectCnt, 10240),
    QVX_INT(NetWkInfoCnt, 512),
    QVX_INT(AccessDataCnt, 300000),
    QVX_INT(HostNameChg, 1),
};
#undef QVX_INT

#define QVX_TEXT(f, d) \
  { #f, offsetof(OptionInfoSt, f), sizeof(OptionInfoSt::f), d }
// The name-query command installed beside the executable.
#ifdef _WIN32
constexpr const char* kDefaultNbtstatChgCmd = "NetNameQuery.exe";
#else
constexpr const char* kDefaultNbtstatChgCmd = "NetNameQuery";
#endif
const TextKey kTextKeys[] = {
    QVX_TEXT(IpAddress, "0.0.0.0"),
    QVX_TEXT(LogFilePath, ""),  // the default is built at run time
    QVX_TEXT(PcapDevNamae, ""),
    QVX_TEXT(FilterCode, "tcp"),
    QVX_TEXT(NbtstatChgCmd, kDefaultNbtstatChgCmd),
};
#undef QVX_TEXT

char* TextField(OptionInfoSt* o, const TextKey& k) { return reinterpret_cast<char*>(o) + k.offset; }

void CopyText(char* dst, size_t size, const char* src) { std::snprintf(dst, size, "%s", src); }

}  // namespace

void OptionSetDefaults(OptionInfoSt* o) {
  std::memset(o, 0, sizeof *o);
  for (const IntKey& k : kIntKeys) o->*k.field = k.def;
  for (const TextKey& k : kTextKeys) CopyText(TextField(o, k), k.size, k.def);
}

namespace {
// A capacity past what the tables are made for would ask for gigabytes, or overflow the size.
void HoldToMaximum(const char* key, int* value, int most) {
  if (*value <= most) return;
  QVX_KLOG("QVX_E02-030 QVX_ReadOptionInfo[%d][%ld] : %s=%d は上限 %d に抑えました。\r\n", key,
           *value, most);
  *value = most;
}
}  // namespace

void QVX_ApplyMemoryTier(OptionInfoSt* o) {
  switch (o->MemperformanceSelect) {
    case 1:
      o->SessionSetupCnt = 512;
      o->TreeConnectCnt = 5120;
      o->NetWkInfoCnt = 256;
      o->AccessDataCnt = 150000;
      break;
    case 2:
      // Values as read; a table of no rows cannot work, so 0 or less means the key's default.
      if (o->SessionSetupCnt <= 0) o->SessionSetupCnt = 1024;
      if (o->TreeConnectCnt <= 0) o->TreeConnectCnt = 10240;
      if (o->NetWkInfoCnt <= 0) o->NetWkInfoCnt = 512;
      if (o->AccessDataCnt <= 0) o->AccessDataCnt = 300000;
      HoldToMaximum("SessionSetupCnt", &o->SessionSetupCnt, kMaxSessionSetupCnt);
      HoldToMaximum("TreeConnectCnt", &o->TreeConnectCnt, kMaxTreeConnectCnt);
      HoldToMaximum("NetWkInfoCnt", &o->NetWkInfoCnt, kMaxNetWkInfoCnt);
      HoldToMaximum("AccessDataCnt", &o->AccessDataCnt, kMaxAccessDataCnt);
      break;
    default:
      o->SessionSetupCnt = 128;
      o->TreeConnectCnt = 1280;
      o->NetWkInfoCnt = 128;
      o->AccessDataCnt = 100000;
      break;
  }
}

namespace {
// An ini that is there but gives nothing would silently run on defaults (the access log off):
// the console and the kernel log say so.
void ReportUnusableIni(const char* ini) {
  if (!platform().FileExists(ini)) return;
  std::string text;
  if (!platform().ReadWholeFile(ini, &text)) {
    std::fprintf(stderr,
                 "%s is not a file that can be read (a folder, FIFO or device?): every setting "
                 "takes its default\n",
                 ini);
    QVX_KLOG(
        "QVX_E02-031 QVX_ReadOptionInfo[%d][%ld] : iniファイルを読めません（通常のファイル"
        "ではありません）。既定値で動作します。%s\r\n",
        ini);
  } else if (!ProfileHasSection(text, kIniSection)) {
    std::fprintf(stderr, "%s has no [%s] section: every setting takes its default\n", ini,
                 kIniSection);
    QVX_KLOG(
        "QVX_E02-032 QVX_ReadOptionInfo[%d][%ld] : iniファイルに [%s] セクションがありません。"
        "既定値で動作します。%s\r\n",
        kIniSection, ini);
  }
}
}  // namespace

void QVX_ReadOptionInfo(void* hWnd) {
  OptionInfoSt& o = OptionInfo;
  char default_log[512];
  if (!MakeIniFileName(kDefaultLogName, default_log, sizeof default_log)) {
    ScMessageBox(hWnd, "Path acquisition went wrong.", "Quorvix Option Setting",
                 kMbIconInformation);
    QVX_KLOG("QVX_E02-001 QVX_Dlg_Proc[%d][%ld] : 起動位置のパス取得に失敗。\r\n");
    std::snprintf(default_log, sizeof default_log, "%s%c%s", platform().SystemDirectory().c_str(),
                  kPathSep, kDefaultLogName);
  }

  OptionSetDefaults(&o);
  char ini[512];
  if (MakeIniFileName(kIniFileName, ini, sizeof ini)) {
    ReportUnusableIni(ini);
    for (const IntKey& k : kIntKeys)
      o.*k.field = platform().GetProfileInt(kIniSection, k.name, k.def, ini);
    for (const TextKey& k : kTextKeys) {
      const char* def = k.offset == offsetof(OptionInfoSt, LogFilePath) ? default_log : k.def;
      platform().GetProfileString(kIniSection, k.name, def, TextField(&o, k), k.size, ini);
    }
  } else {
    ScMessageBox(hWnd, "Reading of a ini file went wrong.\r\nIt starts by initial setting.",
                 "infomation", kMbOk);
    QVX_KLOG("QVX_E02-002 QVX_Dlg_Proc[%d][%ld] : iniファイル読み込み失敗。\r\n");
    CopyText(o.LogFilePath, sizeof o.LogFilePath, default_log);
  }

  QVX_ApplyMemoryTier(&o);
  o.TrayIconFlg = o.StartDown;
  o.TopWindowFlg = 0;
  o.ScrollEndFlg = 0;
}

void QVX_ReNewIniFile(void* hWnd, const char* LogPathBase) {
  ScMessageBox(hWnd, "Changes become effective after a reboot.", "infomation", kMbOk);
  QVX_ELOG("QVX_I02-013 QVX_Dlg_Proc[%d][%ld] : 変更内容は再起動後に有効になります。\r\n");
  char ini[512];
  if (!MakeIniFileName(kIniFileName, ini, sizeof ini)) {
    ScMessageBox(hWnd, "ini File reading went wrong.", "error", kMbOk);
    QVX_ELOG("QVX_E02-014 QVX_Dlg_Proc[%d][%ld] : iniファイル読み込みに失敗しました。\r\n");
  } else if (!MakeIniFileName(kIniFileName, ini, sizeof ini)) {
    ScMessageBox(hWnd, "ini File creation went wrong.", "error", kMbOk);
    QVX_ELOG("QVX_E02-015 QVX_Dlg_Proc[%d][%ld] : iniファイル作成に失敗しました。\r\n");
  } else {
    static const char* const kReset[][2] = {
        {"LogFileWriteFlg", "0"},
        {"LogFileChangeFlg", "0"},
        {"LogFileSize", "0"},
        {"LogFileDate", "0"},
        {"StartDown", "0"},
        {"StartTask", "1"},
        {"AutoStart", "0"},
        {"RefleshTime", "10"},
        {"SMB", "1"},
        {"API", "1"},
        {"ErrorLevel", "0"},
        {"HostName", "0"},
        {"AllPacketGet", "0"},
        {"QVXHosts", "0"},
        {"HostNameChg", "1"},
        {"MACadressFlg", "1"},
        {"SameAccNonLogFlg", "1"},
        {"SameAccNonLogLine", "50"},
        {"ServiceTaskWait", "1000"},
        {"PathDubileCorteSet", "0"},
        {"DriverSelectNo", "0"},
        {"AccessLogOnly", "0"},
        {"LogChgYoubiFlg", "0"},
        {"LogChgDayFlg", "0"},
        {"StartLogChg", "0"},
        {"LogFileChangeChkTime", "600"},
        {"IpAddress", "0.0.0.0"},
        {"LogFilePath", nullptr},
        {"PcapDevNamae", ""},
        {"FilterCode", "tcp"},
        {"SessionSetupFlg", "1"},
        {"SMBcmdListFlg", "0"},
    };
    for (const auto& kv : kReset) {
      platform().WriteProfileString(kIniSection, kv[0], kv[1] ? kv[1] : LogPathBase, ini);
    }
  }
  QVX_ELOG("QVX_I02-051 QVX_Dlg_Proc[%d][%ld] : ini_fname free \r\n");
}

bool QVX_WriteOptionKeys(const OptionInfoSt& o) {
  char ini[512];
  if (!MakeIniFileName(kIniFileName, ini, sizeof ini)) return false;
  const std::pair<const char*, int> ints[] = {
      {"LogFileWriteFlg", o.LogFileWriteFlg},
      {"LogFileChangeFlg", o.LogFileChangeFlg},
      {"LogFileSize", o.LogFileSize},
      {"LogFileDate", o.LogFileDate},
      {"StartDown", o.StartDown},
      {"StartTask", o.StartTask},
      {"AutoStart", o.AutoStart},
      {"RefleshTime", o.RefleshTime},
      {"SMB", o.SMB},
      {"API", o.API},
      {"ErrorLevel", o.ErrorLevel},
      {"HostName", o.HostName},
      {"AllPacketGet", o.AllPacketGet},
      {"QVXHosts", o.QVXHosts},
      {"PathDubileCorteSet", o.PathDubileCorteSet},
      {"DriverSelectNo", o.DriverSelectNo},
      {"AccessLogOnly", o.AccessLogOnly},
      {"StartLogChg", o.StartLogChg},
      {"LogChgYoubiFlg", o.LogChgYoubiFlg},
      {"LogChgDayFlg", o.LogChgDayFlg},
      {"LogFileSelect", o.LogFileSelect},
      {"MemperformanceSelect", o.MemperformanceSelect},
      {"ResetTime", o.ResetTime},
      {"ChangeLogFileUpDate", o.ChangeLogFileUpDate},
  };
  bool ok = true;
  for (const auto& kv : ints)
    ok &= platform().WriteProfileString(kIniSection, kv.first, std::to_string(kv.second), ini);
  ok &= platform().WriteProfileString(kIniSection, "IpAddress", o.IpAddress, ini);
  ok &= platform().WriteProfileString(kIniSection, "LogFilePath", o.LogFilePath, ini);
  ok &= platform().WriteProfileString(kIniSection, "FilterCode", o.FilterCode, ini);
  return ok;
}

}  // namespace qvx
