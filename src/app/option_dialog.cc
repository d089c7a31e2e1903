#include "app/option_dialog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/text.h"

namespace qvx {

const int kOptionWeekdayBoxes[7] = {kOptSun, kOptMon, kOptTue, kOptWed, kOptThu, kOptFri, kOptSat};

const int kOptionButtons[] = {
    kOptAllPacket,
    kOptSmb,
    kOptApi,
    kOptLogWrite,
    kOptLogChange,
    kOptPathQuote,
    kOptFileDateChg,
    kOptStartLogChg,
    kOptAccessLogOnly,
    kOptSun,
    kOptMon,
    kOptTue,
    kOptWed,
    kOptThu,
    kOptFri,
    kOptSat,
    kOptMonthEnd,
    kOptMonthStart,
    kOptNonBufferFlush,
    kOptBufferFlush,
    kOptCLibrary,
    kOptStartDown,
    kOptStartTask,
    kOptAutoStart,
    kOptHostName,
    kOptQvxHosts,
    kOptMemNormal,
    kOptMemMiddle,
    kOptMemHi,
};
const int kOptionButtonCount = sizeof kOptionButtons / sizeof kOptionButtons[0];

const OptionEditLimit kOptionEditLimits[8] = {
    {kOptOctet1, 3},      {kOptOctet2, 3},      {kOptOctet3, 3},      {kOptOctet4, 3},
    {kOptRefleshTime, 4}, {kOptLogFileSize, 7}, {kOptLogFileDate, 7}, {kOptDay, 2},
};

const char* const kOptionHostNameNotice =
    "In order to carry out a reverse lookup name resolution by netbios (a nbtstat -a IP address) "
    "\r\n please a name resolution be possible or check in advance. \r\nIn order to perform a "
    "name resolution until timeout occurs, there is a risk of taking and spilling the data of "
    "access collection in the meantime.  \r\n When it cannot be judged whether an access user's "
    "name resolution is possible, we recommend you not to set up.";

namespace {

constexpr int kMonthEndFlg = 100;
constexpr int kMonthStartFlg = 200;
constexpr size_t kViewLogPathSize = 100;

// The setting a plain toggle box flips, or nullptr.
int* ToggleField(OptionInfoSt* o, int id) {
  switch (id) {
    case kOptAllPacket:
      return &o->AllPacketGet;
    case kOptSmb:
      return &o->SMB;
    case kOptApi:
      return &o->API;
    case kOptLogWrite:
      return &o->LogFileWriteFlg;
    case kOptLogChange:
      return &o->LogFileChangeFlg;
    case kOptPathQuote:
      return &o->PathDubileCorteSet;
    case kOptFileDateChg:
      return &o->ChangeLogFileUpDate;
    case kOptStartLogChg:
      return &o->StartLogChg;
    case kOptAccessLogOnly:
      return &o->AccessLogOnly;
    case kOptStartDown:
      return &o->StartDown;
    case kOptStartTask:
      return &o->StartTask;
    case kOptAutoStart:
      return &o->AutoStart;
    case kOptHostName:
      return &o->HostName;
    case kOptQvxHosts:
      return &o->QVXHosts;
    default:
      return nullptr;
  }
}

int WeekdayOf(int id) {
  for (int d = 0; d < 7; ++d)
    if (kOptionWeekdayBoxes[d] == id) return d;
  return -1;
}

// The number of a numeric edit; appends the refusal naming the field to *msg when it is none.
bool Number(const std::string& text, const char* field, int* out, std::string* msg) {
  if (DecimalText(text.c_str(), out)) return true;
  *msg = std::string(field) + ": enter a number (digits only).";
  return false;
}

}  // namespace

int YoubiFlgChk(int wday) {
  static const int kBits[7] = {0x1, 0x10, 0x100, 0x1000, 0x10000, 0x100000, 0x1000000};
  return wday >= 0 && wday < 7 ? kBits[wday] : 0;
}

namespace {
std::string g_configured_ip;
}  // namespace

void OptionRememberConfiguredAddress(const char* ip) { g_configured_ip = ip ? ip : ""; }

void OptionDlgOpen(const OptionInfoSt& live, OptionDlgState* s) {
  std::memset(s, 0, sizeof *s);
  s->OptionInfoTmp = live;
  OptionInfoSt& o = s->OptionInfoTmp;
  if (!g_configured_ip.empty()) CopyText(o.IpAddress, g_configured_ip.c_str());
  int day = o.LogChgDayFlg;
  int flags = 0;
  if (day / kMonthStartFlg == 1) {
    flags += kMonthStartFlg;
    day -= kMonthStartFlg;
  }
  if (day / kMonthEndFlg == 1) {
    flags += kMonthEndFlg;
    day -= kMonthEndFlg;
  }
  o.LogChgDayFlg = flags;
  s->LogChgDay = day;
}

void OptionSplitAddress(const char* ip, std::string octets[4]) {
  for (int i = 0; i < 4; ++i) octets[i].clear();
  int i = 0;
  for (const char* p = ip ? ip : ""; *p != '\0' && i < 4; ++p) {
    if (*p == '.') {
      ++i;
      continue;
    }
    if (octets[i].size() < 3) octets[i] += *p;
  }
}

std::string OptionShortPath(const char* path) {
  std::string p = path ? path : "";
  if (p.size() <= kViewLogPathSize) return p;
  return p.substr(0, kViewLogPathSize - 4) + "...";
}

std::vector<std::string> OptionErrorLevelItems(int current) {
  std::vector<std::string> items = {"0", "1", "2", "3"};
  if (current < 0 || current > 3) items.push_back(std::to_string(current));
  return items;
}

bool OptionButtonChecked(const OptionDlgState& s, int id) {
  const OptionInfoSt& o = s.OptionInfoTmp;
  if (int* f = ToggleField(const_cast<OptionInfoSt*>(&o), id)) return *f == 1;
  if (int d = WeekdayOf(id); d >= 0) return (o.LogChgYoubiFlg & YoubiFlgChk(d)) != 0;
  switch (id) {
    case kOptMonthEnd:
      return (o.LogChgDayFlg / kMonthEndFlg) % 2 == 1;
    case kOptMonthStart:
      return o.LogChgDayFlg >= kMonthStartFlg;
    case kOptNonBufferFlush:
      return o.LogFileSelect == 1;
    case kOptBufferFlush:
      return o.LogFileSelect == 0;
    case kOptCLibrary:
      return o.LogFileSelect != 0 && o.LogFileSelect != 1;
    case kOptMemHi:
      return o.MemperformanceSelect == 2;
    case kOptMemMiddle:
      return o.MemperformanceSelect == 1;
    case kOptMemNormal:
      return o.MemperformanceSelect != 1 && o.MemperformanceSelect != 2;
    default:
      return false;
  }
}

const char* OptionDlgClick(OptionDlgState* s, int id) {
  OptionInfoSt& o = s->OptionInfoTmp;
  if (int* f = ToggleField(&o, id)) {
    *f = *f == 1 ? 0 : 1;
    // Hiding at start-up needs the tray icon; no tray icon means nothing to hide into.
    if (id == kOptStartDown && o.StartDown == 1) o.StartTask = 1;
    if (id == kOptStartTask && o.StartTask == 0) o.StartDown = 0;
    if (id == kOptAllPacket && o.AllPacketGet == 1) return kOptionAllPacketNotice;
    if (id == kOptHostName && o.HostName == 1) return kOptionHostNameNotice;
    return nullptr;
  }
  if (int d = WeekdayOf(id); d >= 0) {
    o.LogChgYoubiFlg ^= YoubiFlgChk(d);
    return nullptr;
  }
  switch (id) {
    case kOptMonthEnd:
      o.LogChgDayFlg += OptionButtonChecked(*s, id) ? -kMonthEndFlg : kMonthEndFlg;
      break;
    case kOptMonthStart:
      o.LogChgDayFlg += OptionButtonChecked(*s, id) ? -kMonthStartFlg : kMonthStartFlg;
      break;
    case kOptNonBufferFlush:
      o.LogFileSelect = 1;
      break;
    case kOptBufferFlush:
      o.LogFileSelect = 0;
      break;
    case kOptCLibrary:
      o.LogFileSelect = 2;
      break;
    case kOptMemNormal:
      o.MemperformanceSelect = 0;
      break;
    case kOptMemMiddle:
      o.MemperformanceSelect = 1;
      break;
    case kOptMemHi:
      o.MemperformanceSelect = 2;
      break;
    default:
      break;
  }
  return nullptr;
}

std::string OptionDlgAccept(OptionDlgState* s, const OptionDlgTexts& t) {
  std::string msg;
  int oct[4];
  for (int i = 0; i < 4; ++i) {
    if (!DecimalText(t.octet[i].c_str(), &oct[i]) || oct[i] > 255) {
      char buf[96];
      std::snprintf(buf, sizeof buf, "IP Address, octet %d: enter a number from 0 to 255.", i + 1);
      return buf;
    }
  }
  int reflesh, size, date, day = 0;
  if (!Number(t.RefleshTime, "Reflesh Time", &reflesh, &msg) ||
      !Number(t.LogFileSize, "Chg File Size [KB]", &size, &msg) ||
      !Number(t.LogFileDate, "Chg Width Date [Day]", &date, &msg))
    return msg;
  // An empty day box is "no designated day", as 0 is.
  if (!t.Day.empty() && (!DecimalText(t.Day.c_str(), &day) || day > 31))
    return "Designated date: enter a day from 1 to 31, or leave it empty.";

  OptionInfoSt& o = s->OptionInfoTmp;
  CopyText(o.LogFilePath, t.LogFilePath.c_str());
  // Every address is written as the capture loop spells a frame's address.
  std::snprintf(o.IpAddress, sizeof o.IpAddress, "%d.%d.%d.%d", oct[0], oct[1], oct[2], oct[3]);
  // What is written is what the file holds from now on.
  if (!g_configured_ip.empty()) g_configured_ip = o.IpAddress;
  o.RefleshTime = reflesh;
  o.LogFileSize = size;
  o.LogFileDate = date;
  o.ErrorLevel = std::atoi(t.ErrorLevel.c_str());
  s->LogChgDay = day;
  o.LogChgDayFlg = o.LogChgDayFlg - o.LogChgDayFlg % kMonthEndFlg + day;
  o.DriverSelectNo = 0;
  return "";
}

}  // namespace qvx
