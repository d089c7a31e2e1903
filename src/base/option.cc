#include "base/option.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/dbglog.h"
#include "base/ip_address.h"
#include "base/text.h"
#include "platform/os_rules.h"
#include "platform/platform.h"
#include "platform/profile.h"

namespace qvx {

OptionInfoSt OptionInfo;
int nAccessKindFlg = 0;

namespace {

// What a key accepts besides its range [min, max].
enum class Rule {
  kRange,        // any value in the range
  kHoldHigh,     // a size: a number above the maximum is held to it
  kCapacity,     // a table's rows, read only under MemperformanceSelect=2; held like kHoldHigh
  kHourOrNever,  // an hour 0-23, or 99
  kMinuteOrNever,
  kWeekdays,  // a sum of the weekday bits 0x1 (Sunday) .. 0x1000000 (Saturday)
  kDayFlags,  // a day 0-31, plus 100 (month end) and/or 200 (month start)
  kZeroOrFrom4096,
};

struct IntKey {
  const char* name;
  int OptionInfoSt::*field;
  int def;
  int min;
  int max;
  Rule rule;
};

struct TextKey {
  const char* name;
  size_t offset;  // of the char array in OptionInfoSt
  size_t size;
  const char* def;
};

constexpr int kDays = 9999999;  // the Options dialog takes seven digits
constexpr int kMaxPacketBuffer = 1 << 30;

#define QVX_INT(f, d, lo, hi, rule) \
  { #f, &OptionInfoSt::f, d, lo, hi, Rule::rule }
#define QVX_FLAG(f, d) QVX_INT(f, d, 0, 1, kRange)
// Every int key with its default and what it accepts, in record order.
const IntKey kIntKeys[] = {
    QVX_FLAG(LogFileWriteFlg, 0),
    QVX_FLAG(LogFileChangeFlg, 0),
    QVX_INT(LogFileSize, 0, 0, kDays, kRange),  // units of 1000 bytes
    QVX_INT(LogFileDate, 0, 0, kDays, kRange),  // days
    QVX_FLAG(StartDown, 0),
    QVX_FLAG(StartTask, 1),
    QVX_FLAG(SMB, 1),
    QVX_FLAG(API, 1),
    QVX_INT(RefleshTime, 10, 0, 9999, kRange),  // seconds
    QVX_FLAG(AutoStart, 0),
    QVX_INT(ErrorLevel, 0, 0, 6, kRange),
    QVX_FLAG(HostName, 0),
    QVX_FLAG(AllPacketGet, 0),
    QVX_FLAG(QVXHosts, 0),
    QVX_FLAG(SameAccNonLogFlg, 1),
    QVX_INT(SameAccNonLogLine, 50, 0, kMaxAccessDataCnt, kHoldHigh),  // rows looked back on
    QVX_INT(ServiceTaskWait, 1000, 0, 60000, kRange),                 // milliseconds
    QVX_FLAG(PathDubileCorteSet, 0),
    QVX_INT(DriverSelectNo, 0, 0, 0, kRange),  // one capture driver exists
    QVX_FLAG(AccessLogOnly, 0),
    QVX_INT(LogChgYoubiFlg, 0, 0, 0x1111111, kWeekdays),
    QVX_INT(LogChgDayFlg, 0, 0, 331, kDayFlags),
    QVX_FLAG(StartLogChg, 0),
    QVX_INT(LogFileChangeChkTime, 600, 1, 86400, kRange),  // seconds
    QVX_INT(LogFileSelect, 1, 0, 2, kRange),
    QVX_INT(ResetTime, 99, 0, 99, kHourOrNever),
    QVX_INT(PacketBuffer, 0, 0, kMaxPacketBuffer, kZeroOrFrom4096),  // bytes
    QVX_FLAG(NbtstatChgOn, 1),
    QVX_INT(NbtstatChgTime, 2500, 1, 60000, kRange),  // milliseconds
    QVX_FLAG(SMBOtherPackets, 1),
    QVX_FLAG(SMB2OtherPackets, 1),
    QVX_FLAG(smb1_com_other_del_off, 1),
    QVX_FLAG(smb1_com_transaction2_off, 0),
    QVX_FLAG(smb1_com_write_andx_off, 1),
    QVX_FLAG(smb1_com_read_andx_off, 1),
    QVX_FLAG(smb2_com_flush_off, 1),
    QVX_FLAG(SessionSetupFlg, 1),
    QVX_FLAG(MACadressFlg, 1),
    QVX_FLAG(SMBcmdListFlg, 0),
    QVX_FLAG(SMBExtFlg, 1),
    QVX_FLAG(ChangeLogFileUpDate, 0),
    QVX_FLAG(NonDebugWriteLogFlg, 0),
    QVX_FLAG(NonEventWriteLogFlg, 0),
    QVX_INT(ViewRefreshTime, 99, 0, 99, kMinuteOrNever),
    QVX_FLAG(VipFlg, 0),
    QVX_FLAG(AsynchronousFlg, 0),
    QVX_INT(MemperformanceSelect, 0, 0, 2, kRange),
    QVX_INT(SessionSetupCnt, 1024, 1, kMaxSessionSetupCnt, kCapacity),
    QVX_INT(TreeConnectCnt, 10240, 1, kMaxTreeConnectCnt, kCapacity),
    QVX_INT(NetWkInfoCnt, 512, 1, kMaxNetWkInfoCnt, kCapacity),
    QVX_INT(AccessDataCnt, 300000, 1, kMaxAccessDataCnt, kCapacity),
    QVX_FLAG(HostNameChg, 1),
};
#undef QVX_FLAG
#undef QVX_INT

#define QVX_TEXT(f, d) \
  { #f, offsetof(OptionInfoSt, f), sizeof(OptionInfoSt::f), d }
// The name-query command installed beside the executable.
constexpr const char* kDefaultNbtstatChgCmd = os::kNameQueryCommand;
const TextKey kTextKeys[] = {
    QVX_TEXT(IpAddress, "0.0.0.0"),
    QVX_TEXT(LogFilePath, ""),  // the default is built at run time
    QVX_TEXT(PcapDevNamae, ""),
    QVX_TEXT(FilterCode, "tcp"),
    QVX_TEXT(NbtstatChgCmd, kDefaultNbtstatChgCmd),
};
#undef QVX_TEXT

char* TextField(OptionInfoSt* o, const TextKey& k) { return reinterpret_cast<char*>(o) + k.offset; }

}  // namespace

namespace {
// Defaults a shell set in place of the table's (the Linux build's service defaults).
std::vector<std::pair<std::string, int>> g_int_defaults;
// The ini file named on the command line; empty: beside the executable.
std::string g_ini_path;

int DefaultOf(const IntKey& k) {
  for (const auto& [name, value] : g_int_defaults)
    if (name == k.name) return value;
  return k.def;
}
}  // namespace

void QVX_SetIntDefault(const char* key, int value) {
  for (auto& [name, v] : g_int_defaults)
    if (name == key) {
      v = value;
      return;
    }
  g_int_defaults.emplace_back(key, value);
}

int QVX_IntDefault(const char* key) {
  for (const IntKey& k : kIntKeys)
    if (std::strcmp(k.name, key) == 0) return DefaultOf(k);
  return 0;
}

void QVX_SetIniFilePath(const std::string& path) { g_ini_path = path; }

int QVX_IniFileName(char* out, size_t size) {
  if (g_ini_path.empty()) return MakeIniFileName(kIniFileName, out, size);
  if (size == 0 || g_ini_path.size() >= size) return 0;
  CopyText(out, size, g_ini_path.c_str());
  return 1;
}

void OptionSetDefaults(OptionInfoSt* o) {
  std::memset(o, 0, sizeof *o);
  for (const IntKey& k : kIntKeys) o->*k.field = DefaultOf(k);
  for (const TextKey& k : kTextKeys) CopyText(TextField(o, k), k.size, k.def);
}

void QVX_ApplyMemoryTier(OptionInfoSt* o) {
  switch (o->MemperformanceSelect) {
    case 1:
      o->SessionSetupCnt = 512;
      o->TreeConnectCnt = 5120;
      o->NetWkInfoCnt = 256;
      o->AccessDataCnt = 150000;
      break;
    case 2:
      // Values as read (the load refused what is out of range and said so); held here too
      // for callers that set them directly: a table of no rows cannot work, and one past the
      // maximum would ask for gigabytes or overflow its size.
      if (o->SessionSetupCnt <= 0) o->SessionSetupCnt = 1024;
      if (o->TreeConnectCnt <= 0) o->TreeConnectCnt = 10240;
      if (o->NetWkInfoCnt <= 0) o->NetWkInfoCnt = 512;
      if (o->AccessDataCnt <= 0) o->AccessDataCnt = 300000;
      o->SessionSetupCnt = std::min(o->SessionSetupCnt, kMaxSessionSetupCnt);
      o->TreeConnectCnt = std::min(o->TreeConnectCnt, kMaxTreeConnectCnt);
      o->NetWkInfoCnt = std::min(o->NetWkInfoCnt, kMaxNetWkInfoCnt);
      o->AccessDataCnt = std::min(o->AccessDataCnt, kMaxAccessDataCnt);
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

namespace {

bool Accepted(const IntKey& k, long long v) {
  if (v < k.min || v > k.max) return false;
  const int i = static_cast<int>(v);
  switch (k.rule) {
    case Rule::kHourOrNever:
      return i <= 23 || i == 99;
    case Rule::kMinuteOrNever:
      return i <= 59 || i == 99;
    case Rule::kWeekdays:
      return (i & ~0x1111111) == 0;
    case Rule::kDayFlags:
      return i % 100 <= 31;
    case Rule::kZeroOrFrom4096:
      return i == 0 || i >= 4096;
    default:
      return true;
  }
}

std::string Allowed(const IntKey& k) {
  switch (k.rule) {
    case Rule::kHourOrNever:
      return "an hour 0 to 23, or 99 for never";
    case Rule::kMinuteOrNever:
      return "a minute 0 to 59, or 99 for never";
    case Rule::kWeekdays:
      return "0, or a sum of the weekdays 0x1 (Sunday), 0x10, 0x100, 0x1000, 0x10000, 0x100000, "
             "0x1000000 (Saturday)";
    case Rule::kDayFlags:
      return "a day 0 to 31, plus 100 for the month's end and/or 200 for its start";
    case Rule::kZeroOrFrom4096:
      return "0 for 64 MB, or 4096 to " + std::to_string(k.max) + " bytes";
    default:
      break;
  }
  if (k.min == k.max) return "only " + std::to_string(k.min);
  if (k.min == 0 && k.max == 1) return "0 or 1";
  return std::to_string(k.min) + " to " + std::to_string(k.max);
}

// The refusals of one load, for the one box that lists them.
std::vector<std::string> g_refusals;

// A value the program will not take: the console and the kernel log name the key, the value
// given, what the key accepts and what is used instead.
void Refuse(const char* ini, const char* key, const char* given, const std::string& allowed,
            const std::string& used) {
  std::string shown(given, ::strnlen(given, 40));
  if (given[shown.size()] != '\0') shown += "...";
  std::string line = std::string(key) + "=" + shown + " is refused (allowed: " + allowed + "); " +
                     used + " is used instead";
  std::fprintf(stderr, "%s: %s\n", ini, line.c_str());
  QVX_KLOG(
      "QVX_E02-033 QVX_ReadOptionInfo[%d][%ld] : %s=%s は使えない値です（%s）。%s を使います。\r\n",
      key, shown.c_str(), allowed.c_str(), used.c_str());
  g_refusals.push_back(std::move(line));
}

// Reads one int key: a missing or empty value takes the default quietly, anything the key does
// not accept is refused.
void ReadIntKey(const char* ini, const IntKey& k, OptionInfoSt* o) {
  char text[128];
  platform().GetProfileString(kIniSection, k.name, "", text, sizeof text, ini);
  int& field = o->*k.field;
  field = DefaultOf(k);
  if (text[0] == '\0') return;
  long long v = 0;
  const bool number = ProfileValueIsNumber(text, &v);
  if (number && Accepted(k, v)) {
    field = static_cast<int>(v);
    return;
  }
  const bool hold =
      number && v > k.max &&
      (k.rule == Rule::kHoldHigh || k.rule == Rule::kCapacity || k.rule == Rule::kZeroOrFrom4096);
  if (hold) field = k.max;
  Refuse(ini, k.name, text, Allowed(k),
         std::to_string(field) + (hold ? " (the maximum)" : " (the default)"));
}

// What 0.0.0.0 will be replaced by at start-up (QVX_Init_Dlg takes the same list's first
// address), so that a refusal names the address actually monitored.
std::string AutomaticAddress() {
  std::vector<std::string> mine;
  if (platform().LocalIPv4Addresses(&mine) != AddressListResult::kOk || mine.empty())
    return "0.0.0.0 (no address was found to stand for it)";
  return mine.front() +
         " (for 0.0.0.0: the machine's first address; in a replay, the server in "
         "the capture)";
}

// An address that is no address must not become one by accident (atoi reads "266" as 10 once
// cut to a byte): it is refused, and 0.0.0.0 stands for it. A well-formed one is kept in the
// spelling the capture loop gives a frame's address, so that the two compare as text.
void CheckIpAddress(const char* ini, OptionInfoSt* o) {
  char standard[kIpTextSize];
  if (NormalizeIpText(o->IpAddress, standard, sizeof standard)) {
    CopyText(o->IpAddress, standard);
    return;
  }
  if (o->IpAddress[0] == '\0') {
    CopyText(o->IpAddress, "0.0.0.0");  // empty reads as missing, as for the numbers
    return;
  }
  Refuse(ini, "IpAddress", o->IpAddress,
         "an IPv4 address (four numbers 0 to 255 joined by dots) or an IPv6 address",
         AutomaticAddress());
  CopyText(o->IpAddress, "0.0.0.0");
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
  if (QVX_IniFileName(ini, sizeof ini)) {
    ReportUnusableIni(ini);
    g_refusals.clear();
    // The capacities count only in tier 2, so they are judged only there, once the tier is.
    for (const IntKey& k : kIntKeys)
      if (k.rule != Rule::kCapacity) ReadIntKey(ini, k, &o);
    if (o.MemperformanceSelect == 2)
      for (const IntKey& k : kIntKeys)
        if (k.rule == Rule::kCapacity) ReadIntKey(ini, k, &o);
    for (const TextKey& k : kTextKeys) {
      const char* def = k.offset == offsetof(OptionInfoSt, LogFilePath) ? default_log : k.def;
      platform().GetProfileString(kIniSection, k.name, def, TextField(&o, k), k.size, ini);
    }
    CheckIpAddress(ini, &o);
    if (os::kSettingRefusalsInABox && !g_refusals.empty()) {
      std::string text = std::string(ini) + ":";
      for (const std::string& r : g_refusals) text += "\r\n" + r + ".";
      ScMessageBox(hWnd, text.c_str(), "Quorvix Option Setting", kMbIconInformation);
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
  if (!QVX_IniFileName(ini, sizeof ini)) {
    ScMessageBox(hWnd, "ini File reading went wrong.", "error", kMbOk);
    QVX_ELOG("QVX_E02-014 QVX_Dlg_Proc[%d][%ld] : iniファイル読み込みに失敗しました。\r\n");
  } else if (!QVX_IniFileName(ini, sizeof ini)) {
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
  if (!QVX_IniFileName(ini, sizeof ini)) return false;
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
